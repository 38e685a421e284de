#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "QtTestApplication.h"
#include "TestSupport.h"
#include "tzlib/Errors.h"
#include "tzlib/qt/FolderDialog.h"
#include "tzlib/qt/FolderTree.h"

namespace {

class FolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
    }
};

// Runs the event loop until the condition holds or the time has passed.
bool WaitFor(const std::function<bool()>& condition, int milliseconds = 2000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

QStringList ChildTexts(const QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
    return texts;
}

}  // namespace

TEST_F(FolderDialogTest, SetFolderSelectsTheDeepestExistingFolder) {
    TScratchFolder scratch;
    std::filesystem::create_directories(scratch.Path("a/b"));
    TFolderTree tree;
    QTreeWidgetItem* node = tree.SetFolder(scratch.Path("a/b/missing/deeper"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(TFolderTree::NodePath(node), scratch.Path("a/b"));
    EXPECT_EQ(tree.GetSelectedPath(), scratch.Path("a/b"));
    EXPECT_EQ(tree.SetFolder(scratch.Path("a/") ), tree.FindNodeForPath(scratch.Path("a")));
    EXPECT_EQ(tree.SetFolder(""), nullptr);
    EXPECT_EQ(tree.GetSelectedPath(), "");
}

TEST_F(FolderDialogTest, NewFoldersAppearWithoutUserActionButNewFilesChangeNothing) {
    TScratchFolder scratch;
    std::filesystem::create_directories(scratch.Path("watched/first"));
    TFolderTree tree;
    QTreeWidgetItem* watched = tree.SetFolder(scratch.Path("watched"));
    ASSERT_NE(watched, nullptr);
    watched->setExpanded(true);
    ASSERT_EQ(ChildTexts(watched), QStringList{"first"});
    QTreeWidgetItem* first = watched->child(0);

    WriteFile(scratch.Path("watched/file.txt"), "x");
    WaitFor([] { return false; }, 300);  // time for a notification to arrive
    ASSERT_EQ(watched->childCount(), 1);
    EXPECT_EQ(watched->child(0), first);  // not read again

    std::filesystem::create_directory(scratch.Path("watched/second"));
    EXPECT_TRUE(WaitFor([&] { return watched->childCount() == 2; }));
    EXPECT_EQ(ChildTexts(watched), (QStringList{"first", "second"}));
    EXPECT_TRUE(watched->isExpanded());
    std::filesystem::rename(scratch.Path("watched/first"), scratch.Path("watched/renamed"));
    EXPECT_TRUE(WaitFor([&] { return ChildTexts(watched) == QStringList{"renamed", "second"}; }));
}

TEST_F(FolderDialogTest, MountTableLinesAndTheirEscapes) {
    const std::vector<TMountEntry> mounts = ParseMountTable(
        "/dev/sdb1 /media/me/My\\040Disk vfat rw 0 0\n"
        "server:/a\\134b /mnt/share nfs4 rw 0 0\n"
        "broken-line\n"
        "proc /proc proc rw 0 0\n");
    EXPECT_EQ(mounts, (std::vector<TMountEntry>{{"/dev/sdb1", "/media/me/My Disk", "vfat"},
                                                {"server:/a\\b", "/mnt/share", "nfs4"},
                                                {"proc", "/proc", "proc"}}));
}

namespace {

// A tree over a mount table of the test's making.
class TFakeMountsTree : public TFolderTree {
public:
    std::vector<TMountEntry> mounts;

protected:
    std::vector<TMountEntry> ReadMounts() const override { return mounts; }
};

QStringList TopLevelTexts(const QTreeWidget& tree) {
    QStringList texts;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) texts << tree.topLevelItem(i)->text(0);
    return texts;
}

}  // namespace

TEST_F(FolderDialogTest, VolumesComeGoAndAreReadAgainWhenTheirMediumChanges) {
    TScratchFolder scratch;
    std::filesystem::create_directories(scratch.Path("usb/photos"));
    std::filesystem::create_directories(scratch.Path("share/docs"));
    std::filesystem::create_directories(scratch.Path("data/Trash/files"));
    WriteFile(scratch.Path("hosts"), "x");
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(scratch.Path("data")));
    TFakeMountsTree tree;
    tree.mounts = {{"/dev/sda1", "/", "ext4"},
                   {"/dev/sda2", "/boot", "ext4"},
                   {"proc", "/proc", "proc"},
                   {"/dev/sda1", scratch.Path("hosts"), "ext4"},  // a single file mounted: no volume
                   {"/dev/sdb1", scratch.Path("usb"), "vfat"},
                   {"server:/share", scratch.Path("share"), "nfs4"}};
    tree.RefreshVolumes();
    const QString home = QDir::homePath();
    EXPECT_EQ(TopLevelTexts(tree), (QStringList{home, "/", "usb"}));
    QTreeWidgetItem* usb = tree.topLevelItem(2);
    EXPECT_EQ(tree.FindNodeForPath(scratch.Path("usb/photos"))->parent(), usb);
    usb->setExpanded(true);
    EXPECT_EQ(ChildTexts(usb), QStringList{"photos"});

    // Another medium in the same drive: the node is closed and read again when opened.
    std::filesystem::remove(scratch.Path("usb/photos"));
    std::filesystem::create_directory(scratch.Path("usb/music"));
    tree.mounts[4].device = "/dev/sdc1";
    tree.RefreshVolumes();
    ASSERT_EQ(tree.topLevelItem(2), usb);
    EXPECT_FALSE(usb->isExpanded());
    EXPECT_EQ(usb->childCount(), 0);
    usb->setExpanded(true);
    EXPECT_EQ(ChildTexts(usb), QStringList{"music"});

    // The shares and the trash on request; a volume taken away leaves the tree.
    tree.SetFolderOptions(foNetworkNeighborhood | foRecycleBin);
    EXPECT_EQ(TopLevelTexts(tree), (QStringList{home, "/", "usb", "Network", "Trash"}));
    QTreeWidgetItem* network = tree.topLevelItem(3);
    EXPECT_EQ(ChildTexts(network), QStringList{"share"});
    EXPECT_EQ(TFolderTree::NodePath(network), "");
    EXPECT_EQ(tree.FindNodeForPath(scratch.Path("share/docs"))->parent(), network->child(0));
    EXPECT_EQ(TFolderTree::NodePath(tree.topLevelItem(4)), scratch.Path("data/Trash/files"));
    tree.mounts.resize(4);
    tree.RefreshVolumes();
    EXPECT_EQ(TopLevelTexts(tree), (QStringList{home, "/", "Network", "Trash"}));
    EXPECT_EQ(network->childCount(), 0);
    if (savedData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", savedData);
}

TEST_F(FolderDialogTest, DialogShowsItsOwnCaptionsFollowsTheTreeAndReturnsTheEditText) {
    TScratchFolder scratch;
    std::filesystem::create_directories(scratch.Path("pics/sub"));
    WriteFile(scratch.Path("pics/one.jpg"), "x");
    WriteFile(scratch.Path("pics/two.png"), "x");
    const TErrorTextFunc saved = ErrorTextCallback;
    ErrorTextCallback = nullptr;
    TTzFolderDialog dialog;
    dialog.Directory = scratch.Path("pics");
    QStringList shownFiles;
    QString caption, label, okText, cancelText;
    QTimer::singleShot(300, [&] {
        auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        caption = form->windowTitle();
        label = form->findChild<QLabel*>()->text();
        const auto buttons = form->findChildren<QPushButton*>();
        okText = buttons.at(0)->text();
        cancelText = buttons.at(1)->text();
        auto* files = form->findChild<QListWidget*>("files");
        WaitFor([files] { return files->count() > 0; });  // the dialog goes to its folder after it is shown
        for (int i = 0; i < files->count(); ++i) shownFiles << files->item(i)->text();
        form->findChild<QLineEdit*>("edit")->setText(QString::fromStdString(scratch.Path("pics/sub")));
        buttons.at(0)->click();
    });
    EXPECT_TRUE(dialog.Execute());
    ErrorTextCallback = saved;
    EXPECT_EQ(caption, "Folder Selection");
    EXPECT_EQ(label, "Directory");
    EXPECT_EQ(okText, "&Ok");
    EXPECT_EQ(cancelText, "&Cancel");
    EXPECT_EQ(shownFiles, (QStringList{"one.jpg", "two.png"}));
    EXPECT_EQ(dialog.Directory, scratch.Path("pics/sub"));

    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.Directory, scratch.Path("pics/sub"));
}
