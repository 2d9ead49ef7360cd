// Keyed invoice files: SplitKvrLine, LoadKvr into an invoice model (not
// saved: the model has no folder) and the result file for what was loaded.
//
// Input: one option byte (code page, decimal separator, full answer), the
// rest is the file.
// Properties:
// - a line that splits gives four fields that split back to the same four
//   after quoting each of them (and after joining them as they are, when
//   none needs quoting);
// - LoadKvr fails only with KvrLoadError;
// - the result file has its fixed number of CR LF lines and no other CR or LF.
#include <array>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "device/InvoiceModel.h"
#include "inbox/KvrFile.h"

using namespace kv;

namespace {
std::string Quoted(const std::string& f) {
    std::string q = "\"";
    for (char c : f) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

void CheckSplit(std::string_view line) {
    const auto fields = inbox::SplitKvrLine(line);
    if (!fields) return;
    std::string quoted, plain;
    bool plainOk = true;
    for (std::size_t i = 0; i < fields->size(); ++i) {
        const std::string& f = (*fields)[i];
        quoted += (i ? "#" : "") + Quoted(f);
        plain += (i ? "#" : "") + f;
        if (f.find('#') != std::string::npos || (!f.empty() && f.front() == '"')) plainOk = false;
    }
    if (inbox::SplitKvrLine(quoted) != fields) fuzz::Fail("quoted fields do not split back", quoted);
    if (plainOk && inbox::SplitKvrLine(plain) != fields) fuzz::Fail("plain fields do not split back", plain);
}

void CheckResult(const std::string& text, std::size_t lines) {
    std::size_t crlf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++crlf;
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            fuzz::Fail("CR or LF inside a result line", text);
        }
    }
    if (crlf != lines || text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        fuzz::Fail("wrong number of result lines", text);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t opt = in.byte();
    const std::string codePage = (opt & 1) ? "UTF-8" : "windows-1250";
    const char decimalSep = (opt & 2) ? ',' : '.';
    const bool full = (opt & 4) != 0;
    const std::string_view bytes = in.rest();

    for (std::size_t pos = 0; pos <= bytes.size();) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        CheckSplit(bytes.substr(pos, end - pos));
        pos = end + 1;
    }

    MemTable inputFile = inbox::MakeInputFileTable();
    device::InvoiceModel model;
    std::string error;
    try {
        inbox::LoadKvr(bytes, inputFile, model, decimalSep, codePage);
    } catch (const inbox::KvrLoadError& e) {
        error = e.what();
    }
    CheckResult(inbox::ResultFileText(model, error, full, "https://example.invalid/v?x=1", decimalSep),
                !error.empty() ? 3 : full ? 8 : 3);
    return 0;
}
