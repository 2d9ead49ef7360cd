#pragma once
// Data sets for the register: a small demo that makes the cash register
// usable at once, and a large generated set for measuring it.
#include <cstdint>
#include <iosfwd>
#include <string>

namespace kv::reg {

class TDMGlavni;

// Fills an empty register (no articles, tariffs or cashiers yet) with the
// demo set in one transaction: tariffs A 0 %, E 17 %, K 0 %, the payment
// types with their fiscal codes, two cashiers ("ana" / "1111", "marko" /
// "2222", stored hashed), groups, partners, a discount card and articles
// with barcodes, among them a weighed article with a 7-digit code
// ("2100001"). Returns false, changing nothing, when the register already
// has data.
bool LoadDemoData(TDMGlavni& dm);

// `kovira --demo-data`: opens (creating) the register file and loads the
// demo set when it is empty; one line on `out`. Returns 0, or 1 when the
// file cannot be used.
int DemoDataCommand(const std::string& path, std::ostream& out);

struct LargeSetOptions {
    int articles = 100'000;         // each with 0 to 3 barcodes
    std::int64_t lines = 1'000'000; // document lines, spread over two years
    int firstYear = 2023;           // the lines fall into firstYear and firstYear + 1
    int linesPerDocument = 5;
    unsigned seed = 1;
};
// Adds the demo code lists (when missing) and the generated articles,
// barcodes and documents, in one transaction.
void GenerateLargeSet(TDMGlavni& dm, const LargeSetOptions& options = {});

}  // namespace kv::reg
