#include "tzlib/qt/FolderTree.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <algorithm>
#include <vector>

namespace {

enum : int { PathRole = Qt::UserRole, FilledRole, FolderRole };

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

TFolderTree::TFolderTree(QWidget* parent) : QTreeWidget(parent), watcher_(new QFileSystemWatcher(this)) {
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
        if (!node->data(0, FilledRole).toBool()) ExpandNode(node);
    });
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TFolderTree::FolderChanged);
    const std::string home = WithoutTrailingSlash(QDir::homePath().toStdString());
    for (const std::string& root : {home, std::string("/")}) {
        QTreeWidgetItem* node = AddNode(nullptr, root, root, true);
        addTopLevelItem(node);
        ExpandNode(node);
    }
    topLevelItem(0)->setExpanded(true);
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
    // The home folder's tree when the path lies in it, else the whole file system's.
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < topLevelItemCount() && !node; ++i)
        if (IsPrefixFolder(NodePath(topLevelItem(i)), path)) node = topLevelItem(i);
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
