// The inventory of a folder tree: every packed file and set below it, and the volumes that
// belong to no set. Found by name (the extension of volume 0, .0KX or .0RV, in any letter
// case) and by content (a file of any name that begins with volume 0's signature); nothing
// is decoded here: each entry is then tested like any packed file.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct InventoryEntry {
    std::string path;         // the packed file, or volume 0 of a set
    bool set = false;         // it begins with volume 0's header
    int volumesExpected = 1;  // the header's count; 1 for a single packed file
    std::vector<int> missing; // the volumes of the set that are not there
    long long bytes = 0;      // the length of every file found of it
};

struct Inventory {
    std::vector<InventoryEntry> entries; // by path
    // Files named like volume 1 or later of a set whose volume 0 is not there, by path,
    // each with its volume's number and the name volume 0 would have.
    struct Orphan {
        std::string path;
        int volume = 0;
        std::string firstVolume;
    };
    std::vector<Orphan> orphans;
    // Folders that could not be listed, with the system's reason (errno).
    std::vector<std::pair<std::string, int>> unreadable;
};

// Walks dir and everything below it (symbolic links to folders are not followed).
Inventory TakeInventory(const std::string& dir);
