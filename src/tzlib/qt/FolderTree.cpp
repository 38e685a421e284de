#include "tzlib/qt/FolderTree.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// DeviceRole: on a volume or share node, the device mounted there when the node was filled.
enum : int { PathRole = Qt::UserRole, FilledRole, FolderRole, DeviceRole };

constexpr int MountPollInterval = 1000;  // ms

bool IsNetworkMount(const TMountEntry& mount) {
    static const char* const types[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "davfs", "fuse.davfs2"};
    return std::find_if(std::begin(types), std::end(types), [&](const char* t) { return mount.type == t; }) !=
           std::end(types);
}

// A volume: a block device mounted anywhere but the root and the system's own folders.
bool IsLocalVolume(const TMountEntry& mount) {
    if (!mount.device.starts_with("/dev/") || mount.mountPoint == "/") return false;
    for (const char* system : {"/boot", "/proc", "/sys", "/dev", "/snap", "/efi"})
        if (mount.mountPoint == system || mount.mountPoint.starts_with(std::string(system) + "/")) return false;
    return !mount.mountPoint.starts_with("/run/") || mount.mountPoint.starts_with("/run/media/");
}

// The later of two mounts on one folder hides the earlier, so only the last counts. Files
// mounted singly (as containers get theirs) are no volumes.
std::vector<TMountEntry> Select(const std::vector<TMountEntry>& mounts, bool (*wanted)(const TMountEntry&)) {
    std::vector<TMountEntry> selected;
    for (const TMountEntry& mount : mounts) {
        if (!wanted(mount) || !QFileInfo(QString::fromStdString(mount.mountPoint)).isDir()) continue;
        std::erase_if(selected, [&](const TMountEntry& m) { return m.mountPoint == mount.mountPoint; });
        selected.push_back(mount);
    }
    return selected;
}

std::string Unescape(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::string LastName(const std::string& path) { return path.substr(path.rfind('/') + 1); }


std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool IsPrefixFolder(const std::string& folder, const std::string& path) {
    if (folder == "/") return path.starts_with('/');
    return path == folder || (path.starts_with(folder) && path[folder.size()] == '/');
}

std::vector<std::string> SubFolderNames(const std::string& path) {
    std::vector<std::string> names;
    const QDir dir(QString::fromStdString(path));
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::IgnoreCase))
        names.push_back(name.toStdString());
    return names;
}

}  // namespace

std::vector<TMountEntry> ParseMountTable(const std::string& text) {
    std::vector<TMountEntry> mounts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        TMountEntry mount;
        if (!(fields >> mount.device >> mount.mountPoint >> mount.type)) continue;
        mount.device = Unescape(mount.device);
        mount.mountPoint = Unescape(mount.mountPoint);
        mounts.push_back(mount);
    }
    return mounts;
}

TFolderTree::TFolderTree(QWidget* parent)
    : QTreeWidget(parent), watcher_(new QFileSystemWatcher(this)), mountPoll_(new QTimer(this)) {
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
        if (!node->data(0, FilledRole).toBool()) ExpandNode(node);
    });
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TFolderTree::FolderChanged);
    // Mounts raise no change that a folder watcher sees, so the table is read again regularly.
    connect(mountPoll_, &QTimer::timeout, this, &TFolderTree::RefreshVolumes);
    mountPoll_->start(MountPollInterval);
    // The mount table is read by a virtual member, so the volumes follow once construction ends.
    QTimer::singleShot(0, this, &TFolderTree::RefreshVolumes);
    BuildRoots();
}

void TFolderTree::SetFolderOptions(TFolderOptions options) {
    options_ = options;
    BuildRoots();
    RefreshVolumes();
}

void TFolderTree::BuildRoots() {
    for (int i = 0; i < topLevelItemCount(); ++i) DeleteChildren(topLevelItem(i));
    clear();
    network_ = nullptr;
    const std::string home = WithoutTrailingSlash(QDir::homePath().toStdString());
    ExpandNode(AddRoot(home, home));
    ExpandNode(AddRoot("/", "/"));
    if (options_ & foNetworkNeighborhood) {
        network_ = AddRoot("", "Network");
        network_->setData(0, FolderRole, false);
        network_->setData(0, FilledRole, true);
        network_->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    }
    if (options_ & foRecycleBin) {
        const std::string trash =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() + "/Trash/files";
        if (QDir(QString::fromStdString(trash)).exists()) AddRoot(trash, "Trash");
    }
    topLevelItem(0)->setExpanded(true);
}

QTreeWidgetItem* TFolderTree::AddRoot(const std::string& path, const std::string& name) {
    QTreeWidgetItem* node = AddNode(nullptr, path, name, true);
    addTopLevelItem(node);
    return node;
}

std::vector<TMountEntry> TFolderTree::ReadMounts() const {
    std::ifstream file("/proc/self/mounts");
    std::ostringstream text;
    text << file.rdbuf();
    return ParseMountTable(text.str());
}

void TFolderTree::RefreshVolumes() {
    const std::vector<TMountEntry> mounts = ReadMounts();
    SyncMountNodes(nullptr, 2, Select(mounts, IsLocalVolume));
    if (network_) {
        SyncMountNodes(network_, 0, Select(mounts, IsNetworkMount));
        network_->setChildIndicatorPolicy(network_->childCount() > 0 ? QTreeWidgetItem::ShowIndicator
                                                                     : QTreeWidgetItem::DontShowIndicator);
    }
}

// The mount nodes lie together from firstIndex on, under parent or at the top level. A node
// whose folder now holds another device (a medium swapped) is read again when next expanded.
void TFolderTree::SyncMountNodes(QTreeWidgetItem* parent, int firstIndex, const std::vector<TMountEntry>& mounts) {
    const auto count = [&] { return parent ? parent->childCount() : topLevelItemCount(); };
    const auto at = [&](int i) { return parent ? parent->child(i) : topLevelItem(i); };
    for (int i = count() - 1; i >= firstIndex; --i) {
        QTreeWidgetItem* node = at(i);
        if (!node->data(0, DeviceRole).isValid()) continue;
        const auto mount = std::find_if(mounts.begin(), mounts.end(),
                                        [&](const TMountEntry& m) { return m.mountPoint == NodePath(node); });
        if (mount == mounts.end()) {
            DeleteChildren(node);
            watcher_->removePath(QString::fromStdString(NodePath(node)));
            delete node;
        } else if (node->data(0, DeviceRole).toString().toStdString() != mount->device) {
            node->setData(0, DeviceRole, QString::fromStdString(mount->device));
            ResetNode(node);
        }
    }
    int end = firstIndex;
    while (end < count() && at(end)->data(0, DeviceRole).isValid()) ++end;
    for (const TMountEntry& mount : mounts) {
        bool shown = false;
        for (int i = firstIndex; i < end && !shown; ++i) shown = NodePath(at(i)) == mount.mountPoint;
        if (shown) continue;
        QTreeWidgetItem* node = AddNode(nullptr, mount.mountPoint, LastName(mount.mountPoint), true);
        node->setData(0, DeviceRole, QString::fromStdString(mount.device));
        if (parent)
            parent->insertChild(end++, node);
        else
            insertTopLevelItem(end++, node);
    }
}

void TFolderTree::ResetNode(QTreeWidgetItem* node) {
    node->setExpanded(false);
    DeleteChildren(node);
    watcher_->removePath(QString::fromStdString(NodePath(node)));
    node->setData(0, FilledRole, false);
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

// Without a parent the node is left for the caller to insert.
QTreeWidgetItem* TFolderTree::AddNode(QTreeWidgetItem* parent, const std::string& path, const std::string& name,
                                      bool folder) {
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem();
    QString text = QString::fromStdString(name);
    if (DisplayMode == dmUppercase) text = text.toUpper();
    if (DisplayMode == dmLowercase) text = text.toLower();
    node->setText(0, text);
    node->setData(0, PathRole, QString::fromStdString(path));
    node->setData(0, FolderRole, folder);
    node->setData(0, FilledRole, !folder);
    if (folder) node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return node;
}

std::string TFolderTree::NodePath(const QTreeWidgetItem* node) {
    return node ? node->data(0, PathRole).toString().toStdString() : std::string();
}

std::string TFolderTree::GetSelectedPath() const { return NodePath(currentItem()); }

bool TFolderTree::ExpandNode(QTreeWidgetItem* node) {
    const std::string path = NodePath(node);
    node->setData(0, FilledRole, true);
    const std::vector<std::string> folders = SubFolderNames(path);
    for (const std::string& name : folders) AddNode(node, path == "/" ? "/" + name : path + "/" + name, name, true);
    if (!PackFileExt.empty()) {
        const QDir dir(QString::fromStdString(path));
        const QStringList files = dir.entryList({QString::fromStdString("*" + PackFileExt)}, QDir::Files, QDir::Name);
        for (const QString& name : files)
            AddNode(node, (path == "/" ? "/" : path + "/") + name.toStdString(), name.toStdString(), false);
    }
    node->setChildIndicatorPolicy(node->childCount() > 0 ? QTreeWidgetItem::ShowIndicator
                                                          : QTreeWidgetItem::DontShowIndicator);
    if (!folders.empty()) watcher_->addPath(QString::fromStdString(path));
    return !folders.empty();
}

void TFolderTree::DeleteChildren(QTreeWidgetItem* node) {
    while (node->childCount() > 0) {
        QTreeWidgetItem* child = node->child(0);
        DeleteChildren(child);
        if (child->data(0, FolderRole).toBool()) watcher_->removePath(QString::fromStdString(NodePath(child)));
        delete child;
    }
}

QTreeWidgetItem* TFolderTree::NodeOfWatchedPath(QTreeWidgetItem* from, const std::string& path) const {
    if (NodePath(from) == path && from->data(0, FilledRole).toBool()) return from;
    if (!IsPrefixFolder(NodePath(from), path)) return nullptr;
    for (int i = 0; i < from->childCount(); ++i)
        if (QTreeWidgetItem* found = NodeOfWatchedPath(from->child(i), path)) return found;
    return nullptr;
}

void TFolderTree::FolderChanged(const QString& changed) {
    const std::string path = changed.toStdString();
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = NodeOfWatchedPath(topLevelItem(i), path);
        if (node) Refresh(node);
    }
}

// Folders that stayed keep their nodes, so what the user opened below them stays open; files
// that come and go change nothing.
void TFolderTree::Refresh(QTreeWidgetItem* node) {
    const std::string path = NodePath(node);
    std::vector<std::string> present;
    for (const std::string& name : SubFolderNames(path)) present.push_back(path == "/" ? "/" + name : path + "/" + name);
    std::vector<std::string> shown;
    for (int c = 0; c < node->childCount(); ++c)
        if (node->child(c)->data(0, FolderRole).toBool()) shown.push_back(NodePath(node->child(c)));
    if (shown == present) return;
    // Kept nodes never leave the tree, which would forget which of them are open.
    for (int c = node->childCount() - 1; c >= 0; --c) {
        QTreeWidgetItem* child = node->child(c);
        if (!child->data(0, FolderRole).toBool() ||
            std::find(present.begin(), present.end(), NodePath(child)) != present.end())
            continue;
        DeleteChildren(child);
        watcher_->removePath(QString::fromStdString(NodePath(child)));
        delete child;
    }
    // Both lists are in the same order, so a new folder goes in where the shown list lacks it.
    for (int i = 0; i < static_cast<int>(present.size()); ++i) {
        const QTreeWidgetItem* at = node->child(i);
        if (at && NodePath(at) == present[i]) continue;
        QTreeWidgetItem* added = AddNode(nullptr, present[i], present[i].substr(present[i].rfind('/') + 1), true);
        node->insertChild(i, added);
    }
    node->setChildIndicatorPolicy(node->childCount() > 0 ? QTreeWidgetItem::ShowIndicator
                                                          : QTreeWidgetItem::DontShowIndicator);
    if (!present.empty()) watcher_->addPath(QString::fromStdString(path));
}

QTreeWidgetItem* TFolderTree::FindNodeForPath(const std::string& rawPath) {
    if (rawPath.empty()) return nullptr;
    const std::string path = WithoutTrailingSlash(rawPath);
    // The deepest root holding the path: the home folder or a volume before the whole file system.
    std::vector<QTreeWidgetItem*> roots;
    for (int i = 0; i < topLevelItemCount(); ++i) roots.push_back(topLevelItem(i));
    for (int i = 0; network_ && i < network_->childCount(); ++i) roots.push_back(network_->child(i));
    QTreeWidgetItem* node = nullptr;
    for (QTreeWidgetItem* root : roots)
        if (root->data(0, FolderRole).toBool() && IsPrefixFolder(NodePath(root), path) &&
            (!node || NodePath(root).size() > NodePath(node).size()))
            node = root;
    if (!node) return nullptr;
    while (NodePath(node) != path) {
        if (!node->data(0, FilledRole).toBool()) ExpandNode(node);
        QTreeWidgetItem* next = nullptr;
        for (int c = 0; c < node->childCount() && !next; ++c) {
            QTreeWidgetItem* child = node->child(c);
            if (child->data(0, FolderRole).toBool() && IsPrefixFolder(NodePath(child), path)) next = child;
        }
        if (!next) break;
        node = next;
    }
    return node;
}

QTreeWidgetItem* TFolderTree::SetFolder(const std::string& path) {
    QTreeWidgetItem* node = FindNodeForPath(path);
    setCurrentItem(node);
    if (node) scrollToItem(node);
    return node;
}
