// The raw receipt channel: escape sequences, character conversion, blocks,
// the ESC/POS receipt byte for byte, and the three raw targets (a file, a TCP
// printer on loopback, and a CUPS raw queue of a private cupsd).
#include <gtest/gtest.h>

#include "test_dirs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/Settings.h"
#include "print/AsciiPrint.h"
#include "print/EscPosReceipt.h"
#include "print/ReceiptChoice.h"
#include "print/RawPrinter.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace kv::print;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kAnsi = "windows-1250";

std::string ToHex(std::string_view bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

std::string FromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

fs::path TestDir(const std::string& tag) { return kv::test::FreshDir("kv_print", tag); }

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t EntryCount(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// A job body that exercises binary safety: zero bytes, bytes above 0x7F and a
// high pL byte (a 125-character URL stores 128 = 0x80 bytes).
EscPosReceipt BinaryReceipt() {
    EscPosInput in;
    in.journal = "ПРОМЕТ ПРОДАЈА\r\nČaj 1 x 120,00\r\nУкупно: 120,00\r\n";
    in.url = "https://kv.test/v?" + std::string(125 - 18, 'x');
    in.invoiceNumber = "AB12CD34-EF56GH78-1234";
    in.escInit = "#27#64#27#116#17#$FF";
    in.escCir = kKonvCP855;
    in.escLat = EscLatMode::EscPosQR;
    return PrintESCPOS(in, kAnsi);
}

}  // namespace

// ---- escape sequences, conversion, blocks -------------------------------------

TEST(KonvKod, TurnsEscapeSequenceTextIntoBytes) {
    const struct {
        const char* ulaz;
        const char* hex;
    } cases[] = {
        {"#27#64", "1B 40"},
        {"  #29#86#0  ", "1D 56 00"},
        {"#$1B#$40", "1B 40"},
        {"#$1b#$ff", "1B FF"},
        {"27#64", "40"},  // text before the first "#" is dropped
        {"#300", "2C"},   // modulo 256
        {"#256#-1", "00 FF"},
        {"#27 # 64", "1B 40"},
        {"", ""},
        {"ESC", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ToHex(KonvKod(c.ulaz)), c.hex) << "'" << c.ulaz << "'";

    for (const char* bad : {"#27#", "##27", "#2 7", "#x1B", "#$", "#$1G", "#1.5", "#99999999999", "#$123456789"})
        EXPECT_THROW(KonvKod(bad), EscapeSequenceError) << "'" << bad << "'";
}

TEST(TextPrint, ConvertsOneByteForEveryCharacterThenZeroAndLineEnd) {
    const struct {
        const char* red;
        int konv;
        bool newLine;
        const char* hex;
    } cases[] = {
        {"ABC", 0, true, "41 42 43 00 0A"},
        {"ABC", 0, false, "41 42 43 00"},
        {"", 0, false, "00"},
        // Code page 855 with Latin letters transliterated; 1 converts like 2.
        {"Čaj", 2, true, "FC A0 8E 00 0A"},
        {"Čaj", 1, true, "FC A0 8E 00 0A"},
        {"Чај", 2, true, "FC A0 8E 00 0A"},
        {"Шума", 2, true, "F6 E7 D2 A0 00 0A"},
        {"Quiz", 2, true, "51 E7 B7 F3 00 0A"},      // Q has no Cyrillic letter
        {"Quiz", 1, false, "51 E7 B7 F3 00"},
        {"Ђђ Џџ 1,5", 2, false, "81 80 20 3F 3F 20 31 2C 35 00"},  // Џ/џ not in the table, not in windows-1250
        // YUSCII: national letters on ASCII punctuation, Cyrillic through Latin.
        {"Čaj", 3, true, "5E 61 6A 00 0A"},
        {"Шума", 3, true, "5B 75 6D 61 00 0A"},
        {"ČčĆćŠšŽžĐđ", 3, false, "5E 7E 5D 7D 5B 7B 40 60 5C 7C 00"},
        {"Љуљ Њ Ђ", 3, false, "4C 75 6C 20 4E 20 3F 00"},  // single letters; Ђ has none
        {"Quiz", 3, false, "51 75 69 7A 00"},
        // Plain ASCII.
        {"Čaj", 4, true, "43 61 6A 00 0A"},
        {"Шума", 4, true, "53 75 6D 61 00 0A"},
        {"ČčĆćŠšŽžĐđ", 4, false, "43 63 43 63 53 73 5A 7A 44 64 00"},
        // No conversion: the ANSI bytes, "?" where the code page has no letter.
        {"Čaj", 0, true, "C8 61 6A 00 0A"},
        {"Шума", 0, true, "3F 3F 3F 3F 00 0A"},
        {"Čaj", 7, false, "C8 61 6A 00"},
        {"Čaj", -1, false, "C8 61 6A 00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToHex(TextPrint(c.red, c.konv, c.newLine, kAnsi)), c.hex) << c.red << " Konv " << c.konv;
}

TEST(TextPrint, LongTextIsSplitIntoBlocksOfAtMost8192BytesNeverCut) {
    const struct {
        std::string red;
        bool newLine;
        std::vector<std::size_t> blockSizes;
    } cases[] = {
        {std::string(8190, 'a'), true, {8192}},
        {std::string(8191, 'a'), true, {8191, 3}},
        {std::string(8191, 'a'), false, {8191, 2}},
        {std::string(20000, 'a'), false, {8191, 8191, 3621}},
        // Characters, not UTF-8 bytes, fill a block: 8,191 two-byte letters.
        {[] {
             std::string s;
             for (int i = 0; i < 8191; ++i) s += "Ш";
             return s;
         }(),
         true, {8191, 3}},
    };
    for (const auto& c : cases) {
        const auto blocks = TextPrintBlocks(c.red, 3, c.newLine, kAnsi);
        std::vector<std::size_t> sizes;
        std::string text;
        for (const auto& b : blocks) {
            sizes.push_back(b.size());
            ASSERT_LE(b.size(), kMaxBlockBytes);
            const std::size_t end = b.find('\0');
            ASSERT_NE(end, std::string::npos);
            EXPECT_EQ(b.substr(end), &b == &blocks.back() && c.newLine ? std::string("\0\n", 2) : std::string(1, '\0'));
            text += b.substr(0, end);
        }
        EXPECT_EQ(sizes, c.blockSizes) << c.red.size() << " bytes";
        EXPECT_EQ(text, c.red[0] == 'a' ? c.red : std::string(8191, '\x5B')) << "every character arrives once";
    }
    EXPECT_THROW(CommandBlock(std::string(8192, 'x')), std::length_error);
    EXPECT_EQ(CommandBlock(std::string(8191, 'x')).size(), 8192u);
}

// ---- the ESC/POS receipt --------------------------------------------------------

TEST(EscPosReceipt, JournalSplitsOnEveryLineEndWithoutStrayCarriageReturns) {
    using V = std::vector<std::string>;
    const struct {
        const char* journal;
        V lines;
    } cases[] = {
        {"", V{}},
        {"a", V{"a"}},
        {"a\r\nb\r\n", V{"a", "b"}},
        {"a\nb", V{"a", "b"}},
        {"a\r\n\r\nb", V{"a", "", "b"}},
        {"a\rb\n\r\n", V{"a", "b", ""}},
        {"\n", V{""}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitJournal(c.journal), c.lines) << ToHex(c.journal);
}

TEST(EscPosReceipt, QrStoreCommandCountsTheUrlPlusThreeInPlPh) {
    const struct {
        std::size_t urlLength;
        const char* plPh;
    } cases[] = {{100, "67 00"}, {300, "2F 01"}, {125, "80 00"}, {253, "00 01"}, {0, "03 00"}};
    for (const auto& c : cases) {
        const std::string url(c.urlLength, 'u');
        const std::string expected = FromHex("1D 28 6B 04 00 31 41 32 00  00"
                                             "1D 28 6B 03 00 31 43 03  00"
                                             "1D 28 6B 03 00 31 45 30  00"
                                             "1D 28 6B") +
                                     FromHex(c.plPh) + FromHex("31 50 30") + url + std::string(1, '\0') +
                                     FromHex("1D 28 6B 03 00 31 51 30  00");
        EXPECT_EQ(ToHex(QrCommandBlocks(url)), ToHex(expected)) << c.urlLength;
    }
    EXPECT_THROW(QrCommandBlocks(std::string(8184, 'u')), std::length_error);
}

TEST(EscPosReceipt, ThirtyLineJournalInEachMode) {
    EscPosInput in;
    for (int i = 1; i <= 30; ++i) in.journal += "Red " + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\r\n";
    in.url = "https://kv.test/v?vl=" + std::string(279, 'A');  // 300 characters
    in.invoiceNumber = "AB12CD34-EF56GH78-1234";
    in.escInit = "#27#64";
    in.imageWidth = 302;

    std::string first29;
    for (int i = 1; i <= 29; ++i)
        first29 += "Red " + std::string(i < 10 ? "0" : "") + std::to_string(i) + std::string("\0\n", 2);
    const std::string init = FromHex("1B 40 00");
    const std::string last = std::string("Red 30\0\n", 8);
    const std::string qr = FromHex("1D 28 6B 04 00 31 41 32 00 00  1D 28 6B 03 00 31 43 03 00"
                                   "1D 28 6B 03 00 31 45 30 00  1D 28 6B 2F 01 31 50 30") +
                           in.url + FromHex("00  1D 28 6B 03 00 31 51 30 00");

    in.escLat = EscLatMode::BezQR;
    EscPosReceipt r0 = PrintESCPOS(in, kAnsi);
    EXPECT_EQ(r0.mode, EscLatMode::BezQR);
    EXPECT_EQ(r0.jobTitle, "Racun AB12CD34-EF56GH78-1234");
    EXPECT_EQ(r0.raw, init + first29 + last);
    EXPECT_FALSE(r0.drawn);

    in.escLat = EscLatMode::EscPosQR;
    EscPosReceipt r1 = PrintESCPOS(in, kAnsi);
    EXPECT_EQ(r1.raw, init + first29 + qr + last);
    EXPECT_EQ(r1.raw.find('\r'), std::string::npos);

    in.escLat = EscLatMode::ImageQR;
    EscPosReceipt r2 = PrintESCPOS(in, kAnsi);
    EXPECT_EQ(r2.mode, EscLatMode::ImageQR);
    EXPECT_EQ(r2.raw, init) << "only the init bytes go raw";
    ASSERT_TRUE(r2.drawn);
    EXPECT_EQ(r2.drawn->lines.size(), 30u);
    EXPECT_EQ(r2.drawn->lines.front(), "Red 01");
    EXPECT_EQ(r2.drawn->lines.back(), "Red 30");
    EXPECT_TRUE(r2.drawn->hasQr);
    EXPECT_EQ(r2.drawn->url, in.url);
    EXPECT_EQ(r2.drawn->qrSide, 302);

    // With 20-pixel lines the picture sits between line 29 and line 30,
    // centred on the last line, 10 pixels above it.
    DrawnPlacement p = PlaceDrawnReceipt(*r2.drawn, 20, 400);
    ASSERT_EQ(p.lineY.size(), 30u);
    EXPECT_EQ(p.lineY[0], 0);
    EXPECT_EQ(p.lineY[28], 560);
    EXPECT_TRUE(p.hasQr);
    EXPECT_EQ(p.qrTop, 580);
    EXPECT_EQ(p.qrLeft, 49);  // (400 - 302) / 2
    EXPECT_EQ(p.qrSide, 302);
    EXPECT_EQ(p.lineY[29], 580 + 302 + 10);
    // A last line narrower than the picture: truncated toward zero, not floored.
    EXPECT_EQ(PlaceDrawnReceipt(*r2.drawn, 20, 121).qrLeft, -90);
}

TEST(EscPosReceipt, ShortAndOddJournalsInEachMode) {
    const struct {
        const char* journal;
        const char* escLat;
        const char* escInit;
        const char* hex;
    } cases[] = {
        // An empty journal has no last line, and so no QR code.
        {"", "1", "#27#64", "1B 40 00"},
        {"", "0", "", ""},
        // A single line: the QR code comes before it.
        {"Kraj", "1", "", "1D 28 6B 04 00 31 41 32 00 00 1D 28 6B 03 00 31 43 03 00 1D 28 6B 03 00 31 45 30 00 "
                          "1D 28 6B 04 00 31 50 30 75 00 1D 28 6B 03 00 31 51 30 00 4B 72 61 6A 00 0A"},
        // An init text of spaces only still sends its (empty) block.
        {"A", "0", "  ", "00 41 00 0A"},
        // A mode outside the three: nothing but the init bytes.
        {"A\r\nB", "3", "#27#64", "1B 40 00"},
        {"A\r\nB", "", "", ""},
    };
    for (const auto& c : cases) {
        EscPosInput in;
        in.journal = c.journal;
        in.url = "u";
        in.escLat = ParseEscLat(c.escLat);
        in.escInit = c.escInit;
        EXPECT_EQ(ToHex(PrintESCPOS(in, kAnsi).raw), c.hex) << "'" << c.journal << "' EscLat '" << c.escLat << "'";
    }

    EscPosInput in;
    in.journal = "X";
    in.escInit = "#2x";
    EXPECT_THROW(PrintESCPOS(in, kAnsi), EscapeSequenceError);
}

TEST(EscPosReceipt, LinesGoInTheConversionOfEscCir) {
    EscPosInput in;
    in.journal = "Шума Čaj\n";
    const struct {
        const char* escCir;
        const char* hex;
    } cases[] = {
        {"2", "F6 E7 D2 A0 20 FC A0 8E 00 0A"},
        {"0", "3F 3F 3F 3F 20 C8 61 6A 00 0A"},
        {"3", "5B 75 6D 61 20 5E 61 6A 00 0A"},
        {" 4 ", "53 75 6D 61 20 43 61 6A 00 0A"},
        {"x", "3F 3F 3F 3F 20 C8 61 6A 00 0A"},  // not a number: no conversion
    };
    for (const auto& c : cases) {
        in.escCir = ParseKonverzija(c.escCir);
        EXPECT_EQ(ToHex(PrintESCPOS(in, kAnsi).raw), c.hex) << "EscCir '" << c.escCir << "'";
    }
}

TEST(EscPosReceipt, InputComesFromThePrinterSettings) {
    kv::SettingsRecord bafer("Bafer", kv::GlobalSettingDefs());
    bafer.setText("EscInit", "#27#64");
    bafer.setText("EscCir", "2");
    bafer.setText("EscLat", "1");
    bafer.setInt("ImageWidth", 302);
    bafer.setText("FontName", "DejaVu Sans");
    bafer.setInt("FontSize", 9);
    const EscPosInput in = EscPosInputFromSettings(bafer, "J", "U", "N-1");
    EXPECT_EQ(in.escInit, "#27#64");
    EXPECT_EQ(in.escCir, kKonvCP855);
    EXPECT_EQ(in.escLat, EscLatMode::EscPosQR);
    EXPECT_EQ(in.imageWidth, 302);
    EXPECT_EQ(in.fontName, "DejaVu Sans");
    EXPECT_EQ(in.fontSize, 9);
    EXPECT_EQ(in.journal + in.url + in.invoiceNumber, "JUN-1");
}

// ---- raw targets ------------------------------------------------------------------

namespace {

// Records what a job did; write fails when asked to.
class RecordingPrinter : public RawPrinter {
public:
    bool failWrite = false;
    std::vector<std::string> calls;
    std::string bytes;
    void open(const std::string& title) override { calls.push_back("open " + title); }
    void write(std::string_view b) override {
        calls.push_back("write");
        if (failWrite) throw PrintError(kProvjeriPrinter, "paper out");
        bytes += b;
    }
    void close() override { calls.push_back("close"); }
    void abort() noexcept override { calls.push_back("abort"); }
    std::string target() const override { return "recording"; }
};

std::unique_ptr<RawPrinter> Open(const std::string& printerName) {
    return OpenRawTarget(ParsePrinterTarget(printerName));
}

void ExpectCheckPrinter(const std::function<void()>& f, const std::string& what) {
    try {
        f();
        ADD_FAILURE() << what << ": no error";
    } catch (const PrintError& e) {
        EXPECT_STREQ(e.what(), "Provjeri printer!") << what;
        EXPECT_EQ(e.userText(), "Provjeri printer!") << what;
        EXPECT_FALSE(e.detail().empty()) << what;
    }
}

}  // namespace

TEST(RawPrinter, FailedJobIsAbortedNeverLeftOpen) {
    const EscPosReceipt receipt = BinaryReceipt();
    RecordingPrinter ok;
    SendESCPOS(ok, receipt);
    EXPECT_EQ(ok.calls, (std::vector<std::string>{"open Racun AB12CD34-EF56GH78-1234", "write", "close"}));
    EXPECT_EQ(ok.bytes, receipt.raw);

    RecordingPrinter failing;
    failing.failWrite = true;
    EXPECT_THROW(SendESCPOS(failing, receipt), PrintError);
    EXPECT_EQ(failing.calls, (std::vector<std::string>{"open Racun AB12CD34-EF56GH78-1234", "write", "abort"}));
}

TEST(RawPrinter, FileTargetReplacesTheFileWithExactlyTheJobsBytes) {
    const fs::path dir = TestDir("file");
    const fs::path out = dir / "receipt.bin";
    {
        std::ofstream(out, std::ios::binary) << std::string(100000, 'z');  // longer than the job
    }
    const EscPosReceipt receipt = BinaryReceipt();
    auto printer = Open("file:" + out.string());
    SendESCPOS(*printer, receipt);
    EXPECT_EQ(ToHex(ReadAll(out)), ToHex(receipt.raw));
    SendESCPOS(*printer, receipt);
    EXPECT_EQ(ReadAll(out), receipt.raw) << "each job replaces the file, nothing is appended";
    EXPECT_EQ(EntryCount(dir), 1u) << "no temporary file is left behind";

    // A job given up half way leaves the previous receipt whole.
    {
        RawJob job(*printer, "Racun 2");
        job.write("half a receipt");
    }
    EXPECT_EQ(ReadAll(out), receipt.raw);
    EXPECT_EQ(EntryCount(dir), 1u);

    ExpectCheckPrinter([&] { SendRawJob(*Open("file:" + (dir / "no/such/folder/r.bin").string()), "t", "x"); },
                       "missing folder");
    ExpectCheckPrinter([&] { SendRawJob(*Open("file:" + dir.string()), "t", "x"); }, "a folder");
    fs::remove_all(dir);
}

TEST(RawPrinter, FileTargetWritesADeviceOrPipeInPlace) {
    // A printer device node must be written to, never replaced by a file.
    const fs::path dir = TestDir("fifo");
    const fs::path fifo = dir / "lp0";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = ReadAll(fifo); });
    const EscPosReceipt receipt = BinaryReceipt();
    SendESCPOS(*Open("file:" + fifo.string()), receipt);
    reader.join();
    EXPECT_EQ(got, receipt.raw);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(EntryCount(dir), 1u);
    fs::remove_all(dir);
}

TEST(RawPrinter, SocketTargetSendsTheJobToATcpPrinter) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int port = ntohs(addr.sin_port);

    std::string got;
    std::thread printer([&] {
        const int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) return;
        char buf[4096];
        for (ssize_t n; (n = ::read(c, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
        ::close(c);
    });
    const EscPosReceipt receipt = BinaryReceipt();
    SendESCPOS(*Open("socket://127.0.0.1:" + std::to_string(port)), receipt);
    printer.join();
    ::close(listener);
    EXPECT_EQ(ToHex(got), ToHex(receipt.raw));

    // The listener is gone: the port refuses.
    ExpectCheckPrinter([&] { SendESCPOS(*Open("socket://127.0.0.1:" + std::to_string(port)), receipt); },
                       "refused");
    for (const char* bad : {"socket://", "socket://127.0.0.1:", "socket://127.0.0.1:70000", "socket://[::1"})
        ExpectCheckPrinter([&] { Open(bad)->open("t"); }, bad);
}

// The setting that names the printer, read once into where jobs go; the log
// names the target as the setting wrote it.
TEST(RawPrinter, PrinterNamesAreReadIntoTargets) {
    using Kind = PrinterTarget::Kind;
    struct Case {
        const char* name;
        Kind kind;
        std::string where;  // path, host or queue
        int port;
        std::string logged;  // File and Socket (a queue is logged with its server)
    } cases[] = {
        {"file:/tmp/kv/receipt.bin", Kind::File, "/tmp/kv/receipt.bin", 9100, "file:/tmp/kv/receipt.bin"},
        {"file:/dev/usb/lp0", Kind::File, "/dev/usb/lp0", 9100, "file:/dev/usb/lp0"},
        {"file:relative name.bin", Kind::File, "relative name.bin", 9100, "file:relative name.bin"},
        {"socket://10.0.0.5:9101", Kind::Socket, "10.0.0.5", 9101, "socket://10.0.0.5:9101"},
        {"socket://pos.local", Kind::Socket, "pos.local", 9100, "socket://pos.local"},
        {"socket://pos.local:1/queue?waitof=false", Kind::Socket, "pos.local", 1,
         "socket://pos.local:1/queue?waitof=false"},
        {"socket://[::1]:65535", Kind::Socket, "::1", 65535, "socket://[::1]:65535"},
        {"socket://[fe80::1]", Kind::Socket, "fe80::1", 9100, "socket://[fe80::1]"},
        {"POS58_raw", Kind::Cups, "POS58_raw", 9100, ""},
        {"/dev/usb/lp0", Kind::Cups, "/dev/usb/lp0", 9100, ""},  // a device only with "file:"
        {"socket:/x", Kind::Cups, "socket:/x", 9100, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PrinterTarget t = ParsePrinterTarget(c.name);
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_EQ(c.kind == Kind::File ? t.path : c.kind == Kind::Socket ? t.host : t.queue, c.where);
        if (c.kind == Kind::Socket) {
            EXPECT_EQ(t.port, c.port);
        }
        if (c.kind != Kind::Cups) {
            EXPECT_EQ(OpenRawTarget(t)->target(), c.logged);
        }
    }

    // Empty: the CUPS server's default queue.
    const PrinterTarget byDefault = ParsePrinterTarget("");
    EXPECT_EQ(byDefault.kind, Kind::Cups);
    EXPECT_EQ(byDefault.queue, "");

    // A socket address that cannot be one is refused when it is read, before anything is contacted.
    for (const char* bad : {"socket://", "socket://:9100", "socket://pos.local:", "socket://pos.local:0",
                            "socket://pos.local:65536", "socket://pos.local:123456", "socket://pos.local:91x0",
                            "socket://pos.local:-1", "socket://[::1", "socket://[::1]9100", "socket://[]:9100"})
        ExpectCheckPrinter([&] { ParsePrinterTarget(bad); }, bad);
}

// ---- a CUPS raw queue on a private cupsd ---------------------------------------------

namespace {

// A cupsd of the test's own: its configuration, spool and logs in a
// temporary folder, listening on a free loopback port only, with one raw
// queue "kvraw". The queue's backend copies each job's bytes to a file (a raw
// queue with a file: device writes nothing, as no filter runs for it).
class PrivateCupsd {
public:
    std::string skipReason;
    fs::path dir;
    int port = 0;
    pid_t pid = -1;

    fs::path output() const { return dir / "out" / "receipt.bin"; }

    void start() {
        const std::string cupsd = Find({"/usr/sbin/cupsd", "/usr/local/sbin/cupsd"});
        const std::string lpadmin = Find({"/usr/sbin/lpadmin", "/usr/bin/lpadmin", "/usr/local/sbin/lpadmin"});
        std::string cupsExec;
        for (const char* bin : {"/usr/lib/cups", "/usr/libexec/cups", "/usr/lib64/cups", "/usr/local/lib/cups"})
            if (fs::exists(fs::path(bin) / "daemon/cups-exec")) cupsExec = std::string(bin) + "/daemon/cups-exec";
        if (cupsd.empty() || lpadmin.empty() || cupsExec.empty()) {
            skipReason = "cupsd, lpadmin or cups-exec is not installed";
            return;
        }

        char tmpl[] = "/tmp/kv_cupsd_XXXXXX";
        if (!::mkdtemp(tmpl)) {
            skipReason = "no temporary folder";
            return;
        }
        dir = tmpl;
        ::chmod(tmpl, 0755);
        for (const char* sub : {"root", "spool/tmp", "cache", "state", "log", "bin/backend", "bin/daemon", "out"})
            fs::create_directories(dir / sub);
        fs::create_symlink(cupsExec, dir / "bin/daemon/cups-exec");
        Write(dir / "bin/backend/kvcopy",
              "#!/bin/sh\n"
              "if [ $# -eq 0 ]; then echo 'direct kvcopy \"Unknown\" \"Copy to a file\"'; exit 0; fi\n"
              "out=\"${DEVICE_URI#kvcopy:}\"\n"
              "printf '%s' \"$3\" > \"$out.title\" || exit 1\n"
              "if [ $# -ge 6 ]; then cat \"$6\" > \"$out.part\"; else cat > \"$out.part\"; fi || exit 1\n"
              "mv \"$out.part\" \"$out\"\n");
        ::chmod((dir / "bin/backend/kvcopy").c_str(), 0700);

        port = FreePort();
        Write(dir / "root/cupsd.conf", "Listen 127.0.0.1:" + std::to_string(port) +
                                           "\nLogLevel debug\nWebInterface No\nBrowsing No\n"
                                           "DefaultAuthType None\nDefaultEncryption Never\n"
                                           "<Location />\n  Order allow,deny\n  Allow from all\n</Location>\n"
                                           "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                                           "</Policy>\n");
        const std::string d = dir.string();
        Write(dir / "root/cups-files.conf", "ServerRoot " + d + "/root\nServerBin " + d + "/bin\nRequestRoot " + d +
                                                "/spool\nTempDir " + d + "/spool/tmp\nCacheDir " + d +
                                                "/cache\nStateDir " + d + "/state\nPrintcap " + d +
                                                "/state/printcap\nErrorLog " + d + "/log/error_log\nAccessLog " + d +
                                                "/log/access_log\nPageLog " + d + "/log/page_log\n");

        pid = Spawn({cupsd, "-f", "-c", d + "/root/cupsd.conf", "-s", d + "/root/cups-files.conf"},
                    d + "/log/cupsd.out");
        if (pid < 0 || !WaitForPort()) {
            const std::string log = ReadAll(d + "/log/cupsd.out") + ReadAll(d + "/log/error_log");
            skipReason = "cupsd did not start here: " + log.substr(log.size() > 600 ? log.size() - 600 : 0);
            return;
        }
        const std::string hostPort = "127.0.0.1:" + std::to_string(port);
        const pid_t admin = Spawn({lpadmin, "-h", hostPort, "-p", "kvraw", "-E", "-v", "kvcopy:" + output().string()},
                                  d + "/log/lpadmin.out");
        int status = -1;
        if (admin < 0 || ::waitpid(admin, &status, 0) != admin || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            skipReason = "lpadmin could not create the raw queue: " + ReadAll(d + "/log/lpadmin.out");
    }

    void stop() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (::waitpid(pid, nullptr, WNOHANG) == 0) {
                if (Clock::now() > deadline) {
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, nullptr, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            pid = -1;
        }
        if (!dir.empty()) fs::remove_all(dir);
    }

private:
    static std::string Find(std::initializer_list<const char*> candidates) {
        for (const char* c : candidates)
            if (::access(c, X_OK) == 0) return c;
        return {};
    }
    static void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(s);
        return ntohs(a.sin_port);
    }
    static pid_t Spawn(const std::vector<std::string>& args, const std::string& logFile) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        pid_t child = -1;
        const int rc = ::posix_spawn(&child, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        return rc == 0 ? child : -1;
    }
    bool WaitForPort() const {
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < deadline) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;  // it gave up
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(port));
            const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(s);
            if (up) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

}  // namespace

class CupsQueue : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new PrivateCupsd;
        try {
            server_->start();
        } catch (const std::exception& e) {
            server_->skipReason = std::string("cupsd could not be set up: ") + e.what();
        }
    }
    static void TearDownTestSuite() {
        server_->stop();
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!server_->skipReason.empty()) GTEST_SKIP() << server_->skipReason;
        const char* old = std::getenv("CUPS_SERVER");
        if (old) oldServer_ = old;
        hadServer_ = old != nullptr;
        ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(server_->port)).c_str(), 1);
    }
    void TearDown() override {
        if (hadServer_) ::setenv("CUPS_SERVER", oldServer_.c_str(), 1);
        else ::unsetenv("CUPS_SERVER");
    }

    static PrivateCupsd* server_;
    std::string oldServer_;
    bool hadServer_ = false;
};
PrivateCupsd* CupsQueue::server_ = nullptr;

TEST_F(CupsQueue, RawJobReachesTheQueueByteForByte) {
    const EscPosReceipt receipt = BinaryReceipt();
    auto printer = Open("kvraw");
    SendESCPOS(*printer, receipt);

    // The queue's backend renames the copy into place once it is complete.
    const fs::path out = server_->output();
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!fs::exists(out) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(out)) << "the job never reached the queue's device; see " << server_->dir / "log";
    EXPECT_EQ(ToHex(ReadAll(out)), ToHex(receipt.raw));
    EXPECT_EQ(ReadAll(out.string() + ".title"), "Racun AB12CD34-EF56GH78-1234");
}

TEST_F(CupsQueue, AbandonedJobIsCancelledOnTheServer) {
    auto printer = Open("kvraw");
    {
        RawJob job(*printer, "Racun abandoned");
        job.write("half a receipt");
    }
    http_t* http = httpConnect2("127.0.0.1", server_->port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    ASSERT_NE(http, nullptr);
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(http, &jobs, "kvraw", 0, CUPS_WHICHJOBS_ALL);
    const cups_job_t* abandoned = nullptr;
    for (int i = 0; i < n; ++i)
        if (std::string(jobs[i].title) == "Racun abandoned") abandoned = &jobs[i];
    ASSERT_NE(abandoned, nullptr);
    EXPECT_EQ(abandoned->state, IPP_JSTATE_CANCELED);
    cupsFreeJobs(n, jobs);
    httpClose(http);
}

TEST_F(CupsQueue, UnknownQueueOrNoServerAsksToCheckThePrinter) {
    ExpectCheckPrinter([] { SendRawJob(*Open("nema_takvog"), "Racun 1", "x"); }, "unknown queue");
    ::setenv("CUPS_SERVER", "127.0.0.1:1", 1);
    ExpectCheckPrinter([] { SendRawJob(*Open("kvraw"), "Racun 1", "x"); }, "no server");
}

// Which receipt follows a signed run is decided from the settings alone; an
// answer without a picture falls back to the form the printer can take.
TEST(ReceiptChoice, FormsFollowTheSettingsAndTheAnswer) {
    using kv::print::ChooseReceiptForm;
    using F = kv::print::ReceiptForm;
    struct Case {
        int64_t printUredjaj, renderPrint;
        bool picture;
        F form;
    } cases[] = {
        {0, 1, true, F::None},      {1, 1, true, F::ByDevice}, {2, 0, true, F::Text},     {2, 1, true, F::Picture},
        {2, 2, true, F::Report},    {3, 1, true, F::Picture},  {2, 1, false, F::Text},    {3, 1, false, F::Report},
        {2, 7, true, F::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseReceiptForm(c.printUredjaj, c.renderPrint, c.picture), c.form)
            << c.printUredjaj << "/" << c.renderPrint << "/" << c.picture;
}
