// Keyboard shortcuts: in every window each key does one thing. The keys a
// window answers to are those of its menus (the menu bar's titles and
// entries), the actions of the widgets that hold the focus, and the keys the
// focused view announces in its context menu; a key the focused view claims
// before the shortcuts see it belongs to the view there.
#include "GLSupport.h"
#include "PictureImages.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "3DView.h"
#include "Frames.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "PointSet.h"
#include "Resources.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace shortcuts_test {

// A key a window answers to and the command it runs there.
struct Claim {
    QKeySequence key;
    int command; // command id; menu titles and unnamed actions get negative numbers of their own
    QString owner;
};

// The key after the tab of a menu text ("Zoom In\tAlt+Z", "Increase Residuals\tAlt + =").
QKeySequence KeyOfMenuText(const QString& text)
{
    const int tab = text.indexOf(QLatin1Char('\t'));
    if (tab < 0)
        return {};
    QString key = text.mid(tab + 1);
    if (key.size() == 1) // "]", ",": a sequence string would read the comma as a separator
        return QKeySequence(QKeyCombination(Qt::Key(key[0].toUpper().unicode())));
    key.replace(QStringLiteral("Page Up"), QStringLiteral("PgUp")).replace(QStringLiteral("Page Down"), QStringLiteral("PgDown"));
    key.remove(QLatin1Char(' '));
    return QKeySequence::fromString(key, QKeySequence::PortableText);
}

class Shortcuts : public ShellFixture {
protected:
    // Every claim of the main window with the focus where it is now.
    std::vector<Claim> Claims(QMenu* viewMenu)
    {
        std::vector<Claim> window;
        int own = 0;
        for (QAction* top : Frame()->menuBar()->actions()) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(top->text());
            if (!mnemonic.isEmpty())
                window.push_back({mnemonic, --own, QStringLiteral("menu ") + top->text()});
            if (top->menu())
                AddMenu(top->menu(), window, own, false);
        }
        // The focused widget takes a key it claims before the shortcuts.
        QWidget* focus = QApplication::focusWidget();
        std::vector<Claim> claims;
        for (const Claim& c : window)
            if (!focus || !Overrides(focus, c.key))
                claims.push_back(c);
        for (QWidget* w = focus; w; w = w->parentWidget())
            for (QAction* a : w->actions()) {
                const Qt::ShortcutContext context = a->shortcutContext();
                if (context == Qt::WidgetShortcut && w != focus)
                    continue;
                for (const QKeySequence& k : a->shortcuts())
                    claims.push_back({k, a->data().toInt() ? a->data().toInt() : --own, a->text()});
            }
        if (viewMenu)
            AddMenu(viewMenu, claims, own, true);
        return claims;
    }
    // Claims of the menu's entries: real shortcuts, or with fromText the keys their texts announce.
    static void AddMenu(QMenu* menu, std::vector<Claim>& claims, int& own, bool fromText)
    {
        for (QAction* a : menu->actions()) {
            if (a->menu()) {
                AddMenu(a->menu(), claims, own, fromText);
                continue;
            }
            const int command = a->data().toInt() ? a->data().toInt() : --own;
            if (fromText) {
                const QKeySequence key = KeyOfMenuText(a->text());
                if (!key.isEmpty())
                    claims.push_back({key, command, a->text()});
            } else {
                for (const QKeySequence& k : a->shortcuts())
                    claims.push_back({k, command, a->text()});
            }
        }
    }
    static bool Overrides(QWidget* focus, const QKeySequence& key)
    {
        const QKeyCombination combination = key[0];
        QKeyEvent event(QEvent::ShortcutOverride, combination.key(), combination.keyboardModifiers());
        event.ignore();
        QApplication::sendEvent(focus, &event);
        return event.isAccepted();
    }
    // Keys claimed by two different commands, with their owners.
    static std::string Clashes(const std::vector<Claim>& claims)
    {
        std::map<QString, std::vector<const Claim*>> byKey;
        for (const Claim& c : claims)
            byKey[c.key.toString(QKeySequence::PortableText)].push_back(&c);
        std::string clashes;
        for (const auto& [key, owners] : byKey)
            for (const Claim* other : owners)
                if (other->command != owners.front()->command) {
                    clashes += key.toStdString() + ":";
                    for (const Claim* c : owners)
                        clashes += " [" + c->owner.toStdString() + "]";
                    clashes += "\n";
                    break;
                }
        return clashes;
    }
    void Focus(QWidget* w)
    {
        // The main window is made again when its first OpenGL view comes, and
        // without a window manager nobody activates it after that.
        if (!Frame()->isActiveWindow()) {
            Frame()->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
        }
        w->setFocus(Qt::OtherFocusReason);
        Settle();
        ASSERT_EQ(QApplication::focusWidget(), w) << w->metaObject()->className();
    }
    // A project of two pictured images and a point set, shown in its frame.
    void PicturedProject()
    {
        ASSERT_NO_FATAL_FAILURE(NewProject());
        ASSERT_NE(AddPictureImages(*doc, scratch.path().toStdString(), 2), nullptr);
        CPointSet* set = AddPointSet(*doc, scratch.filePath(QStringLiteral("Points.xyz")).toLatin1().constData());
        const double xyz[3][3] = {{0, 0, 0}, {1000, 0, 0}, {0, 800, 100}};
        for (int i = 0; i < 3; ++i)
            set->AddPointSorted(CObjectPoint(("P" + std::to_string(i + 1)).c_str(), xyz[i][0], xyz[i][1], xyz[i][2]));
        doc->UpdateAllViews();
        project = Frame()->GetProjectFrame();
        ASSERT_NE(project, nullptr);
        Frame()->UpdateCmdUI();
    }
    CImageView* OpenImage()
    {
        CImageView* view = OpenImageWindow(doc, doc->images.GetAt(0));
        Settle();
        Frame()->UpdateCmdUI();
        return view;
    }
    C3DView* Open3DView()
    {
        CKestrelonView* tree = project->GetTreeView();
        const auto found = tree->findItems(QStringLiteral("Points"), Qt::MatchExactly | Qt::MatchRecursive);
        if (found.isEmpty())
            return nullptr;
        tree->setCurrentItem(found.first());
        tree->OpenItem(found.first(), 0);
        auto* view = dynamic_cast<C3DView*>(project->GetRightPane());
        if (!view || !QTest::qWaitForWindowExposed(view))
            return nullptr;
        return view;
    }

    CProjectFrame* project = nullptr;
};

TEST_F(Shortcuts, NoKeyDoesTwoThingsInOneWindow)
{
    ASSERT_TRUE(Start());
    EXPECT_EQ(Clashes(Claims(nullptr)), "") << "main window without a project";

    ASSERT_NO_FATAL_FAILURE(PicturedProject());
    ASSERT_NO_FATAL_FAILURE(Focus(project->GetTreeView()));
    const std::vector<Claim> tree = Claims(nullptr);
    EXPECT_EQ(Clashes(tree), "") << "project frame, tree";
    // The collection sees the window's keys: the menus' and the tree's own.
    const auto has = [](const std::vector<Claim>& claims, const char* key) {
        for (const Claim& c : claims)
            if (c.key == QKeySequence::fromString(QString::fromLatin1(key), QKeySequence::PortableText))
                return true;
        return false;
    };
    for (const char* key : {"Ctrl+S", "Alt+R", "Alt+P", "Alt+Return"})
        EXPECT_TRUE(has(tree, key)) << key;

    ASSERT_NO_FATAL_FAILURE(Focus(project->GetRightPane()->GetWidget()));
    EXPECT_EQ(Clashes(Claims(nullptr)), "") << "project frame, list";

    CImageView* image = OpenImage();
    ASSERT_NE(image, nullptr);
    ASSERT_NO_FATAL_FAILURE(Focus(image));
    std::unique_ptr<QMenu> imageMenu(image->BuildContextMenu(nullptr));
    EXPECT_EQ(Clashes(Claims(imageMenu.get())), "") << "image frame";
    imageMenu.reset();

    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    image->GetParentFrame()->close();
    Settle();
    Frame()->GetMdiArea()->setActiveSubWindow(project);
    C3DView* view = Open3DView();
    ASSERT_NE(view, nullptr);
    ASSERT_NO_FATAL_FAILURE(Focus(view));
    std::unique_ptr<QMenu> viewMenu(view->BuildContextMenu(nullptr));
    const std::vector<Claim> scene = Claims(viewMenu.get());
    EXPECT_EQ(Clashes(scene), "") << "3D view";
    EXPECT_TRUE(has(scene, "Ctrl+N") && has(scene, "Ctrl+S"));
}

TEST_F(Shortcuts, TheImageWindowsAltKeysRunTheirCommands)
{
    ASSERT_NO_FATAL_FAILURE(PicturedProject());
    CImageView* image = OpenImage();
    ASSERT_NE(image, nullptr);
    const struct {
        Qt::Key key;
        int command;
        const char* name;
    } keys[] = {
        {Qt::Key_R, 32896, "Full  Image View"}, {Qt::Key_Z, 32795, "Zoom In"},  {Qt::Key_U, 32796, "Zoom Out"},
        {Qt::Key_Q, 32790, "Digitize Mode"},    {Qt::Key_V, 32885, "Vertical"}, {Qt::Key_H, 32886, "Horizontal"},
    };
    for (const auto& k : keys) {
        ASSERT_NO_FATAL_FAILURE(Focus(image));
        Frame()->UpdateCmdUI();
        QAction* action = Frame()->GetAction(k.command);
        ASSERT_TRUE(action->isEnabled()) << k.name;
        QSignalSpy ran(action, &QAction::triggered);
        QTest::keyClick(image, k.key, Qt::AltModifier);
        Settle();
        EXPECT_EQ(ran.count(), 1) << k.name;
    }
}

// Alt+= and Alt+- of the image popup double and halve the residual vectors'
// scale; neither types into the Point ID box.
TEST_F(Shortcuts, AltEqualsAndAltMinusScaleTheResidualVectors)
{
    ASSERT_NO_FATAL_FAILURE(PicturedProject());
    CImageView* image = OpenImage();
    ASSERT_NE(image, nullptr);
    QLineEdit* box = Frame()->GetToolBar()->m_PointLabel;
    const QString label = box->text();
    const struct {
        Qt::Key key;
        int command;
        int scale; // after the key
    } keys[] = {{Qt::Key_Equal, 33011, 1000}, {Qt::Key_Equal, 33011, 2000}, {Qt::Key_Minus, 33012, 1000},
                {Qt::Key_Minus, 33012, 500}};
    image->residualView = true; // the status line shows the scale
    ASSERT_EQ(image->residualScale, 500);
    for (const auto& k : keys) {
        ASSERT_NO_FATAL_FAILURE(Focus(image));
        Frame()->UpdateCmdUI();
        QTest::keyClick(image, k.key, Qt::AltModifier);
        Settle();
        EXPECT_EQ(image->residualScale, k.scale) << k.command;
        EXPECT_EQ(Frame()->GetPaneText(3), QStringLiteral("Vector Scale: %1").arg(k.scale));
        EXPECT_EQ(box->text(), label);
        EXPECT_EQ(QString::fromLatin1(image->GetLabel().GetText()), label);
    }
}

TEST_F(Shortcuts, TheViewsCtrlKeysStayInThe3DView)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    ASSERT_NO_FATAL_FAILURE(PicturedProject());
    C3DView* view = Open3DView();
    ASSERT_NE(view, nullptr);
    const int projects = AfxGetOpenDocumentCount();
    QSignalSpy opened(Frame()->GetAction(ID_FILE_NEW), &QAction::triggered);
    QSignalSpy saved(Frame()->GetAction(ID_FILE_SAVE), &QAction::triggered);
    ASSERT_NO_FATAL_FAILURE(Focus(view));
    // Ctrl+S shows the scale bars only for an adjusted set: here it does nothing.
    for (Qt::Key key : {Qt::Key_N, Qt::Key_S, Qt::Key_N}) {
        QTest::keyClick(view, key, Qt::ControlModifier);
        Settle();
    }
    EXPECT_EQ(opened.count(), 0);
    EXPECT_EQ(saved.count(), 0);
    EXPECT_EQ(AfxGetOpenDocumentCount(), projects);
    // Keys the view has no use for still reach the window.
    Frame()->UpdateCmdUI();
    files.push_back(QString()); // the Open dialog cancelled
    QSignalSpy open(Frame()->GetAction(ID_FILE_OPEN), &QAction::triggered);
    QTest::keyClick(view, Qt::Key_O, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(open.count(), 1);
}

} // namespace shortcuts_test
