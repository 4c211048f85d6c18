// The framework layer on its own: data exchange of dialogs, the cp1252
// edge and the wait cursor.
#include "Dialog.h"
#include "Hooks.h"
#include "Message.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <cmath>
#include <clocale>

namespace {

class RangeDialog : public CDialog {
public:
    RangeDialog() : CDialog(500)
    {
        for (int id : {1000, 1001}) {
            auto* edit = new QLineEdit(this);
            edit->setObjectName(IdName(id));
        }
    }
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Text(dx, 1000, count);
        DDV_MinMaxInt(dx, count, 1, 10);
        DDX_Text(dx, 1001, sigma);
        DDV_MinMaxDouble(dx, sigma, 0.0, 1.0);
    }
    QLineEdit* Edit(int id) const { return Item<QLineEdit>(id); }
    int count = 5;
    double sigma = 0.5;
};

TEST(DataExchange, AFailedCheckShowsItsMessageFocusesTheFieldAndStoresNothing)
{
    // A decimal-comma locale must not change how numbers are read.
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    RestoreCLocale();
    struct Case {
        const char* count;
        const char* sigma;
        bool ok;
        int failedField;
        const char* message;
    };
    const Case cases[] = {
        {"7", "0.25", true, 0, nullptr},
        {" 3 ", "1e-3", true, 0, nullptr},
        {"11", "0.25", false, 1000, "Please enter an integer between 1 and 10."},
        {"7", "1.5", false, 1001, "Please enter a number between 0 and 1."},
        {"7", "0,25", false, 1001, "Please enter a number."},
        {"seven", "0.25", false, 1000, "Please enter an integer."},
    };
    SetMessageBoxHandler(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.count) + " / " + c.sigma);
        RangeDialog dialog;
        ASSERT_TRUE(dialog.OnInitDialog());
        EXPECT_EQ(dialog.Edit(1000)->text(), QStringLiteral("5"));
        EXPECT_EQ(dialog.Edit(1001)->text(), QStringLiteral("0.5"));
        dialog.Edit(1000)->setText(QString::fromLatin1(c.count));
        dialog.Edit(1001)->setText(QString::fromLatin1(c.sigma));
        TakeCapturedMessages();
        EXPECT_EQ(dialog.UpdateData(true), c.ok);
        const auto messages = TakeCapturedMessages();
        if (c.ok) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(dialog.count, QString::fromLatin1(c.count).trimmed().toInt());
            EXPECT_DOUBLE_EQ(dialog.sigma, QString::fromLatin1(c.sigma).toDouble());
            continue;
        }
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, c.message);
        EXPECT_EQ(messages[0].caption, "Kestrelon");
        EXPECT_EQ(dialog.focusWidget(), dialog.Edit(c.failedField));
        EXPECT_EQ(dialog.count, 5);
        EXPECT_EQ(dialog.sigma, 0.5);
    }
    if (comma)
        std::setlocale(LC_ALL, "C");
}

TEST(Cp1252, BytesAndUnicodeMeetOnlyAtTheEdge)
{
    const struct {
        const char* bytes;
        const char16_t* unicode;
    } cases[] = {
        {"Plain", u"Plain"},
        {"\x80 5", u"\u20AC 5"},
        {"\xB5m \xB0", u"\u00B5m \u00B0"},
        {"\x93quoted\x94", u"\u201Cquoted\u201D"},
        {"\xFF\x9F", u"\u00FF\u0178"},
        {"\x81\x9D", u"\u0081\u009D"}, // undefined in the code page: kept as they are
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.unicode);
        EXPECT_EQ(FromCp1252(c.bytes), text) << c.bytes;
        EXPECT_EQ(ToCp1252(text), std::string(c.bytes));
    }
    EXPECT_EQ(ToCp1252(QString::fromUtf16(u"\u4E2D\u00E9")), std::string("?\xE9"));
}

TEST(WaitCursor, EndsOnEveryWayOut)
{
    int depth = 0;
    SetWaitCursorHook([&](bool on) { depth += on ? 1 : -1; });
    auto work = [&](bool early) {
        CWaitCursor wait;
        EXPECT_EQ(depth, 1);
        if (early)
            return 1;
        return 2;
    };
    EXPECT_EQ(work(true), 1);
    EXPECT_EQ(work(false), 2);
    EXPECT_EQ(depth, 0);
    SetWaitCursorHook(nullptr);
}

} // namespace
