#include "util/GridSort.h"

namespace kv {

SortDecision DecideSortByTitle(const SortableDataset& ds, const std::string& field)
{
    SortDecision d;
    // A closed dataset, a column without a field or a field whose value is
    // not stored cannot be ordered by; leave every title as it is.
    if (field.empty() || !ds.canSort() || ds.fieldKind(field) != FieldKind::Data)
        return d;

    d.act = true;
    const std::string current = ds.indexFieldNames();

    if (ds.sortStyle() == SortStyle::TwoState) {
        // In-memory tables only know "by this field" or "unsorted", and keep
        // the current record where it is.
        if (current != field) {
            d.order = field;
            d.look = TitleColour::Green;
        }
        return d;
    }

    const std::string descending =
        field + (ds.sortStyle() == SortStyle::ThreeStateSql ? ":D" : " DESC");
    d.moveFirst = true;
    if (current == descending) {
        // Third click: back to the natural order, plain title.
    } else if (current == field) {
        d.order = descending;
        d.look = TitleColour::Red;
    } else {
        // Unsorted or ordered by another column: start ascending.
        d.order = field;
        d.look = TitleColour::Green;
    }
    return d;
}

}  // namespace kv
