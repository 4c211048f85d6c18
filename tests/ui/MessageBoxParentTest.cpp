// A message box belongs to the dialog that is up, so that a window manager
// keeps it above that dialog: the topmost modal dialog, else the active
// dialog, else the dialog shown last, else the active or the main window.
#include "RealMessageBoxes.h"
#include "ShellFixture.h"

#include <QDialog>
#include <QTest>
#include <QTimer>

#include <vector>

namespace message_box_parent_test {

using MessageBoxOwner = ShellFixture;

TEST_F(MessageBoxOwner, TheBoxBelongsToTheDialogThatIsUp)
{
    ASSERT_TRUE(Start());
    Frame()->resize(900, 700);
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    QDialog first(Frame()), second(Frame());
    first.setWindowTitle(QStringLiteral("First"));
    second.setWindowTitle(QStringLiteral("Second"));
    QDialog modal(&second);
    modal.setWindowTitle(QStringLiteral("Modal"));

    const struct {
        const char* name;
        std::vector<QDialog*> up; // modeless dialogs shown, in this order
        QWidget* active;          // the window active when the box comes
        bool fromModal;           // the box comes from inside the modal dialog
        QWidget* owner;
    } cases[] = {
        {"no dialog", {}, Frame(), false, Frame()},
        {"a modeless dialog, the main window active", {&first}, Frame(), false, &first},
        {"two modeless dialogs, the main window active", {&first, &second}, Frame(), false, &second},
        {"two modeless dialogs, the first active", {&first, &second}, &first, false, &first},
        {"a modal dialog over a modeless one", {&first, &second}, Frame(), true, &modal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (QDialog* d : {&first, &second})
            d->hide();
        for (QDialog* d : c.up) {
            d->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
        }
        c.active->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(c.active));
        RealMessageBoxes boxes(QMessageBox::No);
        int answer = 0;
        if (c.fromModal) {
            QTimer::singleShot(0, &modal, [&] {
                answer = AfxMessageBox("Continue?", MB_YESNO);
                modal.reject();
            });
            modal.exec();
        } else {
            answer = AfxMessageBox("Continue?", MB_YESNO);
        }
        EXPECT_EQ(answer, IDNO);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].parent, c.owner) << (boxes.shown[0].parent ? boxes.shown[0].parent->windowTitle().toStdString() : "none");
        EXPECT_EQ(boxes.shown[0].transientFor, c.owner->windowHandle());
        TakeMessages();
    }
}

} // namespace message_box_parent_test
