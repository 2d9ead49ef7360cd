#pragma once
// Fixed texts of the cash register's invoice page, its hand-off to the fiscal
// device and the discount window, kept exactly as the cashier sees them.
namespace kv::reg::texts {

// Article search and line checks.
inline constexpr const char* kNoBarcode = "Ne postoji barkod";
inline constexpr const char* kNoCode = "Ne postoji šifra";
inline constexpr const char* kNoName = "Ne postoji naziv";
inline constexpr const char* kNoAmount = "Nema iznosa!";
inline constexpr const char* kQuantityTooBig = "Prevelika količina!";
inline constexpr const char* kPriceTooBig = "Prevelika cijena!";
inline constexpr const char* kNoStock = "Nema dovoljno zaliha!";
inline constexpr const char* kTimesCaption = "Količina x broj";
inline constexpr const char* kTimesPrompt = "Broj x količina";

// Invoice header.
inline constexpr const char* kOpenInvoiceExists = "Postoji otvoren račun broj ";
inline constexpr const char* kConfirmed = "Račun je potvrđen!";
inline constexpr const char* kConfirmedNoDelete = "Račun je potvrđen, brisanje nije dozvoljeno!";
inline constexpr const char* kNoLines = "Račun nema stavki!";
inline constexpr const char* kRefundNeedsReferent = "Storno račun mora imati referentni broj i vrijeme!";
inline constexpr const char* kAskConfirm = "Potvrdi račun?";
inline constexpr const char* kAskDelete = "Briši račun?";
inline constexpr const char* kNotConfirmed = "Račun nije potvrđen!";
inline constexpr const char* kAskPrint = "Štampati račun?";
inline constexpr const char* kAlreadyFiscalised = "Račun je već fiskalizovan!";
inline constexpr const char* kPrintCaption = "Štampa računa";
inline constexpr const char* kWaiting = "Čekam odgovor...";
inline constexpr const char* kStatusOpen = "Otvoren";
inline constexpr const char* kStatusConfirmed = "Potvrđen";
inline constexpr const char* kKindSale = "Prodaja";
inline constexpr const char* kKindRefund = "Storno";
inline constexpr const char* kStateInsert = "Insert";
inline constexpr const char* kStateEdit = "Edit";

// Discounts.
inline constexpr const char* kDiscountDone = "Popust je već obračunat!";
inline constexpr const char* kAskDiscount = "Obračunati popust?";
inline constexpr const char* kDiscountOutOfRange = "Rabat mora biti između 0 i 100 %!";

}  // namespace kv::reg::texts
