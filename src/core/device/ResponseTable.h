#pragma once
// The tabular view of the device's last answer (cdsResponse) and the state
// of the JSON browser that walks it.
//
// The JSON value at the root element becomes rows of a MemTable: an object
// gives one row, an array one row per object element (other elements are
// skipped); there is one column per member name, the union over all rows in
// the order first seen. Cells are wide-text fields: strings without quotes,
// numbers in the exact text the device sent (9.9099 stays "9.9099", 17.50
// stays "17.50"), true/false as words, null and missing members as null,
// nested objects and arrays as their compact JSON text.
//
// The root element is a member path joined with "." ("invoiceResponse.taxItems");
// a segment may end in "[n]" to pick an array element ("taxItems[0]"). The
// empty path is the top level. A path that leads nowhere, or an answer that
// is not JSON, gives no rows (the table is then closed: it has no fields).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/MemTable.h"

namespace kv::device {

struct ResponseLimits {
    // Device answers are untrusted: past these the answer is not tabulated
    // (the logs still show it), or the table is cut.
    std::size_t maxAnswerBytes = 32u * 1024u * 1024u;
    std::size_t maxValues = 200000;  // JSON values of one answer
    std::size_t maxDepth = 128;      // nesting of objects and arrays
    std::size_t maxColumns = 512;    // further member names get no column
    std::size_t maxCells = 1000000;  // rows are cut at maxCells / columns
};

class ResponseTable {
public:
    explicit ResponseTable(ResponseLimits limits = {});
    ResponseTable(const ResponseTable&) = delete;
    ResponseTable& operator=(const ResponseTable&) = delete;

    // A new answer: parsed once and shown at the top level. The browser paths
    // are left alone; resetBrowser() is what a device command calls next.
    void setAnswer(std::string_view text);
    bool isJson() const { return !nodes_.empty(); }

    // Rebuilds the table from the value at `path`; false when the answer has
    // nothing there (the table is then empty). The path stays in force either way.
    bool setRootElement(const std::string& path);
    const std::string& rootElement() const { return rootElement_; }

    MemTable& table() { return table_; }
    const MemTable& table() const { return table_; }
    std::size_t rowCount() const { return table_.recordCount(); }
    // Column names in order: the entries of the root-element list after its
    // leading empty entry.
    std::vector<std::string> columnNames() const;

    // JSON browser. descend(""): back to the top level; descend(name): one
    // member further down from rootPath(). back(): to prevRootPath(), which
    // it keeps, so it remembers one step only. resetBrowser(text): both paths
    // emptied, then descend(text).
    const std::string& rootPath() const { return rootPath_; }
    const std::string& prevRootPath() const { return prevRootPath_; }
    void descend(const std::string& text);
    void back();
    void resetBrowser(const std::string& text = {});

private:
    enum class Kind : std::uint8_t { Null, False, True, Number, String, Object, Array };
    // One JSON value, stored in document order: the children of a container
    // follow it, and `end` is the index just past its last descendant. Flat
    // storage keeps deep answers off the call stack when freed.
    struct Node {
        Kind kind = Kind::Null;
        std::uint32_t end = 0;
        std::string key;   // member name within the parent object
        std::string text;  // string content or number text
    };
    class Builder;

    std::size_t find(const std::string& path) const;  // npos when absent
    std::string cellText(std::size_t node) const;
    std::string compactJson(std::size_t node) const;
    void rebuild(std::size_t root);

    ResponseLimits limits_;
    std::vector<Node> nodes_;  // empty when the answer is not JSON
    MemTable table_;
    std::string rootElement_;
    std::string rootPath_;
    std::string prevRootPath_;
};

}  // namespace kv::device
