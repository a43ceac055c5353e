// The message catalogue as data: every text by id in English and Japanese (UTF-8).
// platform/strings.h is how code loads a text; this is the table behind it.
#pragma once

#include <cstddef>

struct CatalogueEntry {
    unsigned id;
    const char* english;
    const char* japanese;
};

// The whole catalogue, sorted by id.
const CatalogueEntry* CatalogueBegin();
const CatalogueEntry* CatalogueEnd();

// The entry with that id, or null.
const CatalogueEntry* FindCatalogueEntry(unsigned id);
