// The time-out counter and the temporary file stream.
#include "net/msutils.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <stdexcept>

using namespace std::chrono_literals;

namespace {

bool FileExists(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0;
}

TEST(TimeCounter, ProgressMovesTheDeadline) {
    TmsTimeCounter counter(0);
    counter.Start();
    EXPECT_TRUE(counter.TimedOut());
    counter.SetCount(60);
    counter.Reset();
    EXPECT_FALSE(counter.TimedOut());
    EXPECT_GT(counter.RemainingMs(), 59000);
    counter.Stop();
    EXPECT_EQ(-1, counter.RemainingMs());
}

TEST(TempFileStream, ReadsBackAndIsDeletedAfterUse) {
    std::string name;
    {
        TmsTempFileStream stream;
        name = stream.FileName();
        EXPECT_NE(std::string::npos, name.find("/ms"));
        EXPECT_TRUE(FileExists(name));
        stream << "line one\r\nline two\r\n";
        stream.seekg(0);
        std::string first;
        std::getline(stream, first);
        EXPECT_EQ("line one\r", first);
        TmsTempFileStream other;
        EXPECT_NE(name, other.FileName());
    }
    EXPECT_FALSE(FileExists(name));
}

} // namespace
