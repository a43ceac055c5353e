#include "engine/inventory.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <map>
#include <set>
#include <sys/stat.h>

#include "engine/packedformat.h"

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One folder's regular files: their names by the lowered name (a set's volumes are found in
// any letter case), and their lengths.
struct Folder {
    std::string path;
    std::map<std::string, std::string> byLowerName;
    std::map<std::string, long long> lengths;
};

// The volume number a file's extension names when it is that of volume 1 or later of a set
// (".1KX" ... ".99X", ".100" ...), with the extension volume 0 would have; -1 otherwise.
int VolumeOfExtension(const std::string& lowerExt, std::string& firstExt)
{
    std::size_t digits = 0;
    while (digits < lowerExt.size() && std::isdigit(static_cast<unsigned char>(lowerExt[digits])))
        ++digits;
    if (digits == 0 || digits > 5)
        return -1;
    const int volume = std::stoi(lowerExt.substr(0, digits));
    if (volume == 0 || volume >= MAX_VOLUMES)
        return -1;
    // Volume 0's extension with the digits written over it from its first character on.
    for (const std::string first : {"0kx", "0rv"}) {
        if (lowerExt.size() == std::max<std::size_t>(3, digits) &&
            lowerExt.compare(digits, std::string::npos, first, digits < 3 ? digits : 3) == 0) {
            firstExt = first;
            return volume;
        }
    }
    return -1;
}

void Walk(const std::string& dir, Inventory& inventory, std::vector<Folder>& folders)
{
    DIR* listing = opendir(dir.c_str());
    if (!listing) {
        inventory.unreadable.emplace_back(dir, errno);
        return;
    }
    Folder folder;
    folder.path = dir;
    std::vector<std::string> below;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            below.push_back(path);
        else if (S_ISREG(info.st_mode)) {
            folder.byLowerName[Lower(name)] = name;
            folder.lengths[name] = static_cast<long long>(info.st_size);
        }
    }
    closedir(listing);
    folders.push_back(std::move(folder));
    std::sort(below.begin(), below.end());
    for (const std::string& sub : below)
        Walk(sub, inventory, folders);
}

void InventoryOf(const Folder& folder, Inventory& inventory)
{
    std::set<std::string> claimed; // lowered names that belong to an entry
    for (const auto& file : folder.byLowerName) {
        const std::string& lower = file.first;
        const std::string& name = file.second;
        const std::size_t dot = lower.rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : lower.substr(dot + 1);
        const std::string path = folder.path + "/" + name;
        const PackedHeaderRead header = ReadPackedHeaderOf(path);
        if (ext != "0kx" && ext != "0rv" && !header.bHeader)
            continue;
        InventoryEntry entry;
        entry.path = path;
        entry.set = header.bHeader;
        entry.bytes = folder.lengths.at(name);
        claimed.insert(lower);
        if (header.bHeader && header.nCount > 0) {
            entry.volumesExpected = header.nCount;
            for (int volume = 1; volume < header.nCount; ++volume) {
                const std::string volumeName = Lower(VolumePath(name, volume));
                const auto found = folder.byLowerName.find(volumeName);
                if (found == folder.byLowerName.end()) {
                    entry.missing.push_back(volume);
                    continue;
                }
                claimed.insert(volumeName);
                entry.bytes += folder.lengths.at(found->second);
            }
        }
        inventory.entries.push_back(std::move(entry));
    }
    // Names like a later volume's, by their lowered base name: a name with digits alone
    // (".100") is taken for a volume only beside one that has its letters (".1KX").
    std::map<std::string, std::vector<Inventory::Orphan>> candidates;
    std::set<std::string> lettered;
    for (const auto& file : folder.byLowerName) {
        const std::size_t dot = file.first.rfind('.');
        if (dot == std::string::npos || claimed.count(file.first))
            continue;
        std::string firstExt;
        const int volume = VolumeOfExtension(file.first.substr(dot + 1), firstExt);
        const std::string base = file.first.substr(0, dot + 1);
        // Volume 0 is there (a set whose count is smaller): no orphan.
        if (volume < 0 || folder.byLowerName.count(base + firstExt))
            continue;
        const std::string& name = file.second;
        if (volume < 100)
            lettered.insert(base);
        // Volume 0's name in the letter case of this volume's extension.
        std::string shownExt = firstExt;
        if (std::isupper(static_cast<unsigned char>(name.back())))
            for (char& c : shownExt)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        candidates[base].push_back({folder.path + "/" + name, volume,
                                    folder.path + "/" + name.substr(0, dot + 1) + shownExt});
    }
    for (auto& base : candidates)
        if (lettered.count(base.first))
            for (Inventory::Orphan& orphan : base.second)
                inventory.orphans.push_back(std::move(orphan));
}

} // namespace

Inventory TakeInventory(const std::string& dir)
{
    Inventory inventory;
    std::string root = dir;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::vector<Folder> folders;
    Walk(root, inventory, folders);
    for (const Folder& folder : folders)
        InventoryOf(folder, inventory);
    const auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
    std::sort(inventory.entries.begin(), inventory.entries.end(), byPath);
    std::sort(inventory.orphans.begin(), inventory.orphans.end(), byPath);
    return inventory;
}
