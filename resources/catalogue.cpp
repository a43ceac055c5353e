// The catalogue table, built from catalogue.inc and sorted once so a look-up is a binary
// search.
#include "resources/catalogue.h"

#include <algorithm>
#include <array>

#include "resources/textids.h"

namespace {

const CatalogueEntry kRows[] = {
#include "resources/catalogue.inc"
};

constexpr std::size_t kRowCount = sizeof(kRows) / sizeof(kRows[0]);

const std::array<CatalogueEntry, kRowCount>& SortedRows()
{
    static const std::array<CatalogueEntry, kRowCount> rows = [] {
        std::array<CatalogueEntry, kRowCount> sorted{};
        std::copy(std::begin(kRows), std::end(kRows), sorted.begin());
        std::sort(sorted.begin(), sorted.end(),
                  [](const CatalogueEntry& a, const CatalogueEntry& b) { return a.id < b.id; });
        return sorted;
    }();
    return rows;
}

} // namespace

const CatalogueEntry* CatalogueBegin()
{
    return SortedRows().data();
}
const CatalogueEntry* CatalogueEnd()
{
    return SortedRows().data() + kRowCount;
}

const CatalogueEntry* FindCatalogueEntry(unsigned id)
{
    const auto* end = CatalogueEnd();
    const auto* it =
        std::lower_bound(CatalogueBegin(), end, id,
                         [](const CatalogueEntry& e, unsigned key) { return e.id < key; });
    return (it != end && it->id == id) ? it : nullptr;
}
