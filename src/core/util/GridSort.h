#pragma once
// The title-click sort of the data grids, decided without any widget: the
// grid helper asks what to do and then applies sort order and title look.
#include <string>

namespace kv {

// How a field gets its value; only Data fields sort.
enum class FieldKind { Data, Calculated, Lookup, InternalCalc, Aggregate };

// Three-state datasets cycle unsorted -> ascending -> descending; the suffix of
// the descending key depends on the dataset family. In-memory tables cycle
// unsorted -> ascending only.
enum class SortStyle { ThreeStateSql /* "name:D" */, ThreeStateAdo /* "name DESC" */, TwoState };

enum class TitleColour { Plain, Green, Red };

class SortableDataset {
public:
    virtual ~SortableDataset() = default;
    virtual SortStyle sortStyle() const = 0;
    // Open (and, for the ADO-like family, with a client-side cursor).
    virtual bool canSort() const = 0;
    virtual FieldKind fieldKind(const std::string& field) const = 0;
    // The sort order: the list of index field names.
    virtual std::string indexFieldNames() const = 0;
    virtual void setIndexFieldNames(const std::string& order) = 0;
    virtual void first() = 0;
};

struct SortDecision {
    bool act = false;           // false: nothing changes, not even other titles
    std::string order;           // new sort order
    TitleColour look = TitleColour::Plain;  // look of the clicked title (others go plain)
    bool moveFirst = false;     // go to the first record after sorting
};

SortDecision DecideSortByTitle(const SortableDataset& ds, const std::string& field);

}  // namespace kv
