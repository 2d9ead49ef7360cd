// Device answers: IndentJson, OpenJSONFile (flattening) and the answer table
// with its browser, fed the same text.
//
// Input: the answer text as it came from the device.
// Properties:
// - IndentJson accepts exactly what the answer table (at the same depth) takes
//   for JSON, and indenting its own output changes nothing;
// - the flattened lines and every table built along their paths stay within
//   the table's limits; the tight table never holds more than it allows.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "device/DeviceClient.h"
#include "device/JsonFlatten.h"
#include "device/ResponseTable.h"

using namespace kv;

namespace {
// The table with the nesting IndentJson allows and no other limit that an
// input of -max_len can reach.
device::ResponseLimits Unlimited() {
    device::ResponseLimits l;
    l.maxDepth = device::kMaxJsonDepth;
    return l;
}

device::ResponseLimits Tight() {
    device::ResponseLimits l;
    l.maxAnswerBytes = 2048;
    l.maxValues = 64;
    l.maxDepth = 6;
    l.maxColumns = 5;
    l.maxCells = 12;
    return l;
}

void CheckTable(const device::ResponseTable& t, const device::ResponseLimits& l) {
    const auto cols = t.columnNames().size();
    if (cols > l.maxColumns) fuzz::Fail("more columns than allowed");
    if (cols == 0 && t.rowCount() != 0) fuzz::Fail("rows without columns");
    if (cols != 0 && t.rowCount() > std::max<std::size_t>(1, l.maxCells / cols)) fuzz::Fail("more cells than allowed");
}

// The parent path of a flattened name ("a.b[0].c" -> "a.b[0]"), and its last step.
std::pair<std::string, std::string> SplitPath(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return {{}, name};
    return {name.substr(0, dot), name.substr(dot + 1)};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string indented = device::IndentJson(text);
    if (!indented.empty() && device::IndentJson(indented) != indented)
        fuzz::Fail("indenting indented text changes it", indented);

    static device::ResponseTable whole(Unlimited());
    whole.setAnswer(text);
    if (whole.isJson() != !indented.empty()) fuzz::Fail("IndentJson and the answer table disagree on JSON");
    CheckTable(whole, Unlimited());

    device::FlatJson flat;
    device::OpenJSONFile(text, "", flat);
    (void)flat.text();
    (void)flat.value("invoiceResponse.invoiceNumber");

    static device::ResponseTable tight(Tight());
    tight.setAnswer(text);
    CheckTable(tight, Tight());

    // Walk the answer along the paths the flattening found.
    std::size_t walked = 0;
    for (const auto& [name, value] : flat.lines) {
        if (++walked > 32) break;
        const auto [parent, last] = SplitPath(name);
        for (device::ResponseTable* t : {&whole, &tight}) {
            t->setRootElement(parent);
            t->resetBrowser(parent);
            t->descend(last);
            t->back();
        }
        CheckTable(whole, Unlimited());
        CheckTable(tight, Tight());
    }
    return 0;
}
