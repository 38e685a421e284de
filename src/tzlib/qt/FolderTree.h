#pragma once
// A tree of folders: the home folder and the file system's root, read one level at a time as
// nodes are expanded, and read again when a watched folder gains, loses or renames sub-folders.
#include <QTreeWidget>
#include <string>

class QFileSystemWatcher;

enum TDisplayMode { dmAsis, dmUppercase, dmLowercase };

class TFolderTree : public QTreeWidget {
public:
    explicit TFolderTree(QWidget* parent = nullptr);

    TDisplayMode DisplayMode = dmAsis;
    // Files ending in this extension are shown as leaves beside the folders ("" shows none).
    std::string PackFileExt;

    // The selected node's path; empty without a selection.
    std::string GetSelectedPath() const;
    // Selects the deepest existing folder on the path; nullptr (nothing selected) for an empty
    // path or one outside every root.
    QTreeWidgetItem* SetFolder(const std::string& path);
    static std::string NodePath(const QTreeWidgetItem* node);
    QTreeWidgetItem* FindNodeForPath(const std::string& path);
    // Reads the node's folder; true when it has sub-folders.
    bool ExpandNode(QTreeWidgetItem* node);

private:
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const std::string& path, const std::string& name, bool folder);
    void FolderChanged(const QString& path);
    void Refresh(QTreeWidgetItem* node);
    void DeleteChildren(QTreeWidgetItem* node);
    QTreeWidgetItem* NodeOfWatchedPath(QTreeWidgetItem* from, const std::string& path) const;

    QFileSystemWatcher* watcher_;
};
