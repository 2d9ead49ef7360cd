#pragma once
// What a data-bound editor needs from its dataset to end an edit: Esc
// cancels the pending changes, leaving the field or pressing Enter posts them.

namespace kv {

class EditableDataset {
public:
    virtual ~EditableDataset() = default;
    // True while a record is being edited or inserted.
    virtual bool isEditing() const = 0;
    // Discards the pending changes; does nothing when not editing.
    virtual void cancel() = 0;
    // Stores the pending changes; only meaningful while isEditing().
    virtual void post() = 0;
};

}  // namespace kv
