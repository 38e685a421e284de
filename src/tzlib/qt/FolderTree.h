#pragma once
// A tree of folders: the home folder, the file system's root, every other mounted volume and,
// on request, the network shares and the trash; read one level at a time as nodes are expanded,
// and read again when a watched folder gains, loses or renames sub-folders or a volume comes,
// goes or changes its medium.
#include <QTreeWidget>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QTimer;

enum TDisplayMode { dmAsis, dmUppercase, dmLowercase };

using TFolderOptions = unsigned;
constexpr TFolderOptions foNetworkNeighborhood = 1, foRecycleBin = 2;

// One line of the mount table.
struct TMountEntry {
    std::string device, mountPoint, type;
    bool operator==(const TMountEntry&) const = default;
};
// The entries of a mount table in the format of /proc/self/mounts, with its octal escapes undone.
std::vector<TMountEntry> ParseMountTable(const std::string& text);

class TFolderTree : public QTreeWidget {
public:
    explicit TFolderTree(QWidget* parent = nullptr);

    TFolderOptions FolderOptions() const { return options_; }
    // Builds the top-level nodes again with or without the network and trash nodes.
    void SetFolderOptions(TFolderOptions options);
    // Reads the mount table and brings the volume and network nodes up to date; a timer calls
    // it every second.
    void RefreshVolumes();

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

protected:
    // The system's mount table.
    virtual std::vector<TMountEntry> ReadMounts() const;

private:
    void BuildRoots();
    QTreeWidgetItem* AddRoot(const std::string& path, const std::string& name);
    void ResetNode(QTreeWidgetItem* node);
    void SyncMountNodes(QTreeWidgetItem* parent, int firstIndex, const std::vector<TMountEntry>& mounts);
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const std::string& path, const std::string& name, bool folder);
    void FolderChanged(const QString& path);
    void Refresh(QTreeWidgetItem* node);
    void DeleteChildren(QTreeWidgetItem* node);
    QTreeWidgetItem* NodeOfWatchedPath(QTreeWidgetItem* from, const std::string& path) const;

    QFileSystemWatcher* watcher_;
    QTimer* mountPoll_;
    TFolderOptions options_ = 0;
    QTreeWidgetItem* network_ = nullptr;
};
