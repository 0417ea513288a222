int VersionedDllAnchor = 0;
