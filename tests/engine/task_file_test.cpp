// The task file's format on its own: what it prints, what it reads, and what it says about
// a file it cannot read.

#include <gtest/gtest.h>

#include <string>

#include "src/engine/TaskFile.h"

namespace {

TaskFile TwoTasks() {
    TaskFile file;
    file.TasksCount = 2;
    file.ContentLength = 2621440;
    file.DownloadTime = 1234;
    TaskFile::Task first;
    first.StartPos = 0;
    first.EndPos = 1048575;
    first.DownloadedPos = 1048575;
    first.RemotePath = "http://127.0.0.1:8080/f.bin?a=1&b=<2>";
    first.LocalPath = "/tmp/f.bin";
    first.TaskStatus = 1;
    first.TaskId = 1;
    first.RequestTimes = 2;
    TaskFile::Task second = first;
    second.StartPos = 1048576;
    second.EndPos = 2621440;
    second.DownloadedPos = 1048576;
    second.TaskStatus = 0;
    second.TaskId = 2;
    second.RequestTimes = 0;
    file.Tasks = {first, second};
    return file;
}

const char* const kTwoTasksText =
    "<TaskInfo>\n"
    "    <TasksCount>2</TasksCount>\n"
    "    <ContentLength>2621440</ContentLength>\n"
    "    <DownloadTime>1234</DownloadTime>\n"
    "    <Task>\n"
    "        <StartPos>0</StartPos>\n"
    "        <EndPos>1048575</EndPos>\n"
    "        <DownloadedPos>1048575</DownloadedPos>\n"
    "        <RemotePath>http://127.0.0.1:8080/f.bin?a=1&amp;b=&lt;2&gt;</RemotePath>\n"
    "        <LocalPath>/tmp/f.bin</LocalPath>\n"
    "        <TaskStatus>1</TaskStatus>\n"
    "        <TaskId>1</TaskId>\n"
    "        <RequestTimes>2</RequestTimes>\n"
    "    </Task>\n"
    "    <Task>\n"
    "        <StartPos>1048576</StartPos>\n"
    "        <EndPos>2621440</EndPos>\n"
    "        <DownloadedPos>1048576</DownloadedPos>\n"
    "        <RemotePath>http://127.0.0.1:8080/f.bin?a=1&amp;b=&lt;2&gt;</RemotePath>\n"
    "        <LocalPath>/tmp/f.bin</LocalPath>\n"
    "        <TaskStatus>0</TaskStatus>\n"
    "        <TaskId>2</TaskId>\n"
    "        <RequestTimes>0</RequestTimes>\n"
    "    </Task>\n"
    "</TaskInfo>\n";

TEST(TaskFile, PrintsTheLayoutAndReadsItBack) {
    const TaskFile file = TwoTasks();
    EXPECT_EQ(file.print(), kTwoTasksText);

    TaskFile read;
    std::string error;
    ASSERT_TRUE(TaskFile::parse(kTwoTasksText, read, error)) << error;
    EXPECT_EQ(read.print(), kTwoTasksText);
    EXPECT_EQ(read.TasksCount, 2);
    EXPECT_EQ(read.ContentLength, 2621440);
    EXPECT_EQ(read.DownloadTime, 1234);
    ASSERT_EQ(read.Tasks.size(), 2u);
    EXPECT_EQ(read.Tasks[0].RemotePath, "http://127.0.0.1:8080/f.bin?a=1&b=<2>");
    EXPECT_EQ(read.Tasks[1].StartPos, 1048576);
    EXPECT_EQ(read.Tasks[1].EndPos, 2621440);
    EXPECT_EQ(read.Tasks[0].RequestTimes, 2);

    // No task at all, and 64-bit positions.
    TaskFile empty;
    empty.ContentLength = std::int64_t{5} << 32;
    ASSERT_TRUE(TaskFile::parse(empty.print(), read, error)) << error;
    EXPECT_TRUE(read.Tasks.empty());
    EXPECT_EQ(read.ContentLength, std::int64_t{5} << 32);
}

// Each way a file can differ from what the writer writes, with what the reader says.
TEST(TaskFile, RefusesAnythingElseSayingWhatItExpected) {
    const std::string good = kTwoTasksText;
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const auto secondTask = good.find("    <Task>", good.find("</Task>"));
    const std::string withoutSecondTask = good.substr(0, secondTask) + "</TaskInfo>\n";
    std::string misnamed = good;
    misnamed.replace(misnamed.find("<Task>"), 6, "<Tusk>");
    misnamed.replace(misnamed.find("</Task>"), 7, "</Tusk>");
    const std::pair<std::string, std::string> cases[] = {
        {replaced("<ContentLength>2621440<", "<ContentLength>12a<"), "expected a decimal <ContentLength>, found \"12a\""},
        {withoutSecondTask, "expected <Task> 2 of 2, found the end of <TaskInfo>"},
        {replaced("<TasksCount>2<", "<TasksCount>1<"), "expected the end of <TaskInfo> after 1 tasks, found <Task>"},
        {"", "expected well-formed XML, found XML_ERROR_EMPTY_DOCUMENT at line 0"},
        {good.substr(0, good.size() / 2), "expected well-formed XML, found XML_ERROR_PARSING_ELEMENT at line 12"},
        {"<DownloadTasks/>", "expected <TaskInfo>, found <DownloadTasks>"},
        {good + "<TaskInfo/>", "expected the end of the file after <TaskInfo>, found <TaskInfo>"},
        {replaced("<TasksCount>2</TasksCount>", ""), "expected <TasksCount>, found <ContentLength>"},
        {replaced("<TasksCount>2<", "<TasksCount>-1<"), "expected a decimal <TasksCount> from 0 to 131072, found \"-1\""},
        {replaced("<TasksCount>2<", "<TasksCount>200000<"),
         "expected a decimal <TasksCount> from 0 to 131072, found \"200000\""},
        {replaced("<DownloadTime>1234<", "<DownloadTime> 1234<"), "expected a decimal <DownloadTime>, found \" 1234\""},
        {replaced("<ContentLength>2621440<", "<ContentLength>99999999999999999999<"),
         "expected a decimal <ContentLength>, found \"99999999999999999999\""},
        {replaced("<EndPos>1048575</EndPos>", "<StartPos>1</StartPos>"), "expected <EndPos> in <Task> 1, found <StartPos>"},
        {replaced("<TaskId>1<", "<TaskId>4294967297<"), "expected a 32-bit decimal <TaskId> in <Task> 1, found \"4294967297\""},
        {replaced("<TaskStatus>0<", "<TaskStatus><x/><"), "expected a 32-bit decimal <TaskStatus> in <Task> 2, found <x> inside it"},
        {replaced("<RequestTimes>0</RequestTimes>", ""), "expected <RequestTimes> in <Task> 2, found the end of <Task> 2"},
        {replaced("<RequestTimes>2</RequestTimes>", "<RequestTimes>2</RequestTimes><Extra/>"),
         "expected the end of <Task> 1 after <RequestTimes>, found <Extra>"},
        {replaced("<LocalPath>/tmp/f.bin<", "<LocalPath>" + std::string(40000, 'a') + "<"),
         "expected at most 32768 bytes in <LocalPath> in <Task> 1, found 40000"},
        {misnamed, "expected <Task> 1 of 2, found <Tusk>"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(message);
        TaskFile out = TwoTasks();
        out.DownloadTime = 77;
        std::string error;
        EXPECT_FALSE(TaskFile::parse(text, out, error));
        EXPECT_EQ(error, message);
        EXPECT_EQ(out.DownloadTime, 77) << "a refused file changes nothing";
    }
}

}  // namespace
