#include "shell/file_version.h"

#include "shell/test_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::MatchesRegex;

TEST(FileVersionText, ReadsTheFourPartsInOrder) {
    const std::string dll = TestFile("versioned.dll");
    EXPECT_EQ(FileVersionText(dll), "1.5.3.4");
    EXPECT_EQ(FileVersionText(dll, ""), "1.5.3.4");
    EXPECT_EQ(FileVersionText(dll, "v%u-%u (build %u.%u) 100%%"), "v1-5 (build 3.4) 100%");
}

TEST(FileVersionText, StrayConversionsStayText) {
    // Only %u takes a value; a format asking for more never reads past the four parts.
    EXPECT_EQ(FileVersionText(TestFile("versioned.dll"), "%s %u.%u.%u.%u.%u %"), "%s 1.5.3.4. %");
}

TEST(FileVersionText, NoVersionInformationGivesEmptyText) {
    EXPECT_EQ(FileVersionText(TestFile("shell_tests.exe")), "");
    EXPECT_EQ(FileVersionText(TestFile("no such file.dll")), "");
}

TEST(FileVersionText, WithoutFileNameDescribesTheSystem) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExA(&info));
    const std::string expected = "Windows " +
                                 WindowsVersionName(info.dwMajorVersion, info.dwMinorVersion,
                                                    info.dwPlatformId == VER_PLATFORM_WIN32_NT) +
                                 " [" + std::to_string(info.dwMajorVersion) + "." +
                                 std::to_string(info.dwMinorVersion) + "." +
                                 std::to_string(info.dwBuildNumber) + "] " + info.szCSDVersion;
    EXPECT_EQ(FileVersionText(), expected);
    EXPECT_THAT(FileVersionText(), MatchesRegex("Windows .* \\[\\d+\\.\\d+\\.\\d+\\] .*"));
}

TEST(FileVersionText, NamesTheSystemByVersion) {
    EXPECT_EQ(WindowsVersionName(3, 51, true), "NT 3.51");
    EXPECT_EQ(WindowsVersionName(4, 0, true), "NT 4");
    EXPECT_EQ(WindowsVersionName(4, 0, false), "95");
    EXPECT_EQ(WindowsVersionName(4, 10, false), "98");
    EXPECT_EQ(WindowsVersionName(4, 90, false), "Me");
    EXPECT_EQ(WindowsVersionName(5, 0, true), "2000");
    EXPECT_EQ(WindowsVersionName(5, 1, true), "XP");
    EXPECT_EQ(WindowsVersionName(5, 2, true), "2003");
    EXPECT_EQ(WindowsVersionName(5, 3, true), "");
    EXPECT_EQ(WindowsVersionName(6, 0, true), "Vista");
    EXPECT_EQ(WindowsVersionName(6, 1, true), "Longhorn");
    EXPECT_EQ(WindowsVersionName(10, 0, true), "");
}
