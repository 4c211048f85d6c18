#include "Message.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct MessageFixture : ::testing::Test {
    void SetUp() override
    {
        SetMessageBoxHandler(nullptr);
        TakeCapturedMessages();
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }
};

TEST_F(MessageFixture, WithoutHandlerQuestionsGetTheirSafeDefault)
{
    EXPECT_EQ(AfxMessageBox("Saved", MB_OK), IDOK);
    EXPECT_EQ(AfxMessageBox("Replace camera <A>?", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(AfxMessageBox("Go on?", MB_OKCANCEL), IDOK);
    EXPECT_EQ(AfxMessageBox("Go on?", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(AfxMessageBox("Save changes?", MB_YESNOCANCEL), IDNO);

    auto got = TakeCapturedMessages();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[1].text, "Replace camera <A>?");
    EXPECT_EQ(got[1].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(got[1].answer, IDNO);
    EXPECT_TRUE(TakeCapturedMessages().empty());
}

TEST_F(MessageFixture, InstalledHandlerAnswersAndIsRecorded)
{
    std::vector<std::string> seen;
    SetMessageBoxHandler([&](const char* text, const char* caption, unsigned) {
        seen.push_back(std::string(caption) + ":" + text);
        return IDYES;
    });
    EXPECT_EQ(AfxMessageBox("Delete?", MB_YESNO, "Kestrelon"), IDYES);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Kestrelon:Delete?");
    auto got = TakeCapturedMessages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].answer, IDYES);
}

TEST_F(MessageFixture, StatusTextReachesHandlerAndIsKept)
{
    std::string last;
    auto old = SetStatusTextHandler([&](const char* t) { last = t; });
    SetStatusText("Saving Project");
    EXPECT_EQ(last, "Saving Project");
    EXPECT_EQ(GetLastStatusText(), "Saving Project");
    SetStatusText(nullptr);
    EXPECT_EQ(GetLastStatusText(), "");
    SetStatusTextHandler(old);
}

TEST_F(MessageFixture, MessagesFromManyThreadsAreAllCaptured)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i)
                AfxMessageBox("worker", MB_OK);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(TakeCapturedMessages().size(), 800u);
}

} // namespace
