#include <gtest/gtest.h>

#include "money_literal.h"
#include "util/MemTable.h"

using kv::Currency;
using kv::DatasetError;
using kv::FieldConvertError;
using kv::FieldKind;
using kv::FieldType;
using kv::MemTable;
using kv::Value;

namespace {

// An invoice-line shaped table: the amount is calculated from price and quantity.
class MemTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        t.addField({"Sifra", FieldType::Integer});
        t.addField({"Naziv", FieldType::String, 5});
        t.addField({"Cijena", FieldType::Currency});
        t.addField({"Kolicina", FieldType::Currency});
        t.addField({"Datum", FieldType::Date});
        t.addField({"Iznos", FieldType::Currency, 0, FieldKind::Calculated});
        t.open();
    }

    void add(std::int64_t sifra, const Value& naziv, Currency cijena = Currency()) {
        t.append();
        t.field("Sifra").setValue(sifra);
        t.field("Naziv").setValue(naziv);
        t.field("Cijena").setValue(cijena);
        t.post();
    }

    // Sifra of every record in view order, walking the cursor.
    std::vector<std::int64_t> codes() {
        std::vector<std::int64_t> out;
        for (t.first(); !t.eof(); t.next()) out.push_back(t.field("Sifra").asInteger());
        return out;
    }

    MemTable t;
};

}  // namespace

TEST_F(MemTableTest, EditCycleThroughTheEditableInterface) {
    kv::EditableDataset& editable = t;
    EXPECT_TRUE(t.isEmpty());
    EXPECT_TRUE(t.bof() && t.eof());
    EXPECT_TRUE(t.field("Naziv").isNull());

    t.append();
    EXPECT_TRUE(editable.isEditing());
    t.field("Naziv").setValue("Hljeb");
    editable.post();
    EXPECT_FALSE(editable.isEditing());
    EXPECT_EQ(t.recordCount(), 1u);

    EXPECT_THROW(t.field("Naziv").setValue("Mlijeko"), DatasetError);  // browsing is read-only

    t.edit();
    EXPECT_EQ(t.state(), kv::DatasetState::Edit);
    t.field("Naziv").setValue("Kifla");
    EXPECT_EQ(t.field("Naziv").asString(), "Kifla");  // the edit buffer is what fields read
    editable.cancel();
    EXPECT_EQ(t.field("Naziv").asString(), "Hljeb");

    t.append();
    t.field("Naziv").setValue("Sir");
    editable.cancel();
    EXPECT_EQ(t.recordCount(), 1u);
    EXPECT_EQ(t.field("Naziv").asString(), "Hljeb");
    EXPECT_THROW(t.post(), DatasetError);  // nothing pending

    t.close();
    EXPECT_FALSE(t.active());
    EXPECT_THROW(t.field("Naziv").asString(), DatasetError);
    EXPECT_THROW(t.append(), DatasetError);
    t.open();
    EXPECT_TRUE(t.isEmpty());  // records live only while open
}

TEST_F(MemTableTest, MovingPostsThePendingEditAndDeleteKeepsAPosition) {
    add(1, "a");
    add(2, "b");
    t.append();
    t.field("Sifra").setValue(3);
    t.first();  // posts the insert
    EXPECT_EQ(t.state(), kv::DatasetState::Browse);
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{1, 2, 3}));

    t.moveTo(1);
    t.deleteRecord();
    EXPECT_EQ(t.field("Sifra").asInteger(), 3);  // the following record
    t.deleteRecord();
    EXPECT_EQ(t.field("Sifra").asInteger(), 1);  // the last one went: back to the previous
    t.edit();
    t.field("Sifra").setValue(9);
    t.deleteRecord();  // deleting drops the pending change too
    EXPECT_TRUE(t.isEmpty());
    EXPECT_THROW(t.deleteRecord(), DatasetError);

    t.edit();  // an empty table starts its first record
    EXPECT_EQ(t.state(), kv::DatasetState::Insert);
    t.field("Sifra").setValue(4);
    t.post();
    add(5, "x");
    t.edit();
    t.emptyDataSet();
    EXPECT_EQ(t.state(), kv::DatasetState::Browse);
    EXPECT_EQ(t.recordCount(), 0u);
}

TEST(MemTableText, CutToSizeInWholeCharacters) {
    MemTable t({{"Naziv", FieldType::String, 5}, {"Opis", FieldType::Memo, 5}});
    t.open();
    t.append();
    const std::pair<std::string, std::string> cases[] = {
        {"abcdefg", "abcde"},
        {"Čevapi", "Čevap"},
        {"ćšđžčX", "ćšđžč"},
        {"€€€€€€", "€€€€€"},
        {"😀😀😀😀😀😀", "😀😀😀😀😀"},
        {"ab", "ab"},
        {"", ""},
        {"abcd\xC5\xBD\xC5", "abcd\xC5\xBD"},  // an unfinished sequence beyond the limit goes whole
    };
    for (const auto& [in, out] : cases) {
        t.field("Naziv").setValue(in);
        EXPECT_EQ(t.field("Naziv").asString(), out) << in;
    }
    t.field("Opis").setValue("Memo fields keep everything");
    EXPECT_EQ(t.field("Opis").asString(), "Memo fields keep everything");
}

TEST(MemTableConvert, AssignmentConvertsLikeTheFieldLayer) {
    MemTable t({{"Sifra", FieldType::Integer},
                {"Mali", FieldType::Smallint},
                {"Cijena", FieldType::Currency},
                {"Tezina", FieldType::Float},
                {"Aktivan", FieldType::Boolean},
                {"Datum", FieldType::Date},
                {"Vrijeme", FieldType::DateTime},
                {"Naziv", FieldType::String, 20}});
    t.open();
    t.append();
    const auto may = kv::DateTime::fromParts(2024, 5, 1);
    struct Case {
        const char* field;
        Value in;
        Value stored;
    };
    const Case cases[] = {
        {"Sifra", std::string("42"), std::int64_t{42}},
        {"Sifra", std::string(" -42 "), std::int64_t{-42}},
        {"Sifra", std::string("42,0"), std::int64_t{42}},
        {"Sifra", 2.5_cur, std::int64_t{3}},
        {"Sifra", 2.5, std::int64_t{3}},
        {"Sifra", std::string(""), Value()},
        {"Mali", std::int64_t{-32768}, std::int64_t{-32768}},
        {"Cijena", std::string("12,5"), 12.5_cur},
        {"Cijena", std::string("12.5"), 12.5_cur},
        {"Cijena", std::string("1e2"), 100.0_cur},
        {"Cijena", std::int64_t{7}, 7.0_cur},
        {"Cijena", 0.1, 0.1_cur},
        {"Cijena", std::string("  "), Value()},
        {"Tezina", std::string("1,5"), 1.5},
        {"Tezina", 0.25_cur, 0.25},
        {"Aktivan", std::string("True"), true},
        {"Aktivan", std::int64_t{0}, false},
        {"Datum", std::string("2024-05-01 13:45"), may},
        {"Datum", std::string("1.5.2024."), may},
        {"Vrijeme", std::string("2024-05-01T13:45:30.5"), kv::DateTime::fromParts(2024, 5, 1, 13, 45, 30, 500)},
        {"Naziv", 12.5_cur, std::string("12.5")},
        {"Naziv", std::int64_t{42}, std::string("42")},
        {"Naziv", may, std::string("2024-05-01")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        t.field(c.field).setValue(c.in);
        EXPECT_EQ(t.field(c.field).value(), c.stored);
    }

    struct Bad {
        const char* field;
        Value in;
        const char* mentions;
    };
    const Bad bad[] = {
        {"Sifra", std::string("4.2"), "4.2"},
        {"Sifra", std::string("abc"), "abc"},
        {"Sifra", std::int64_t{1} << 40, "out of the allowed range"},
        {"Mali", std::int64_t{32768}, "-32768 to 32767"},
        {"Cijena", std::string("1.234,5"), "1.234,5"},
        {"Cijena", true, "currency"},
        {"Cijena", std::string("1e20"), "1e20"},
        {"Tezina", std::string("1.5.2"), "1.5.2"},
        {"Aktivan", std::string("da"), "da"},
        {"Datum", std::string("31.2.2024"), "31.2.2024"},
        {"Datum", std::int64_t{5}, "date"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.field);
        t.field(b.field).setValue(Value());
        try {
            t.field(b.field).setValue(b.in);
            ADD_FAILURE() << "no error";
        } catch (const FieldConvertError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(std::string("'") + b.field + "'"), std::string::npos) << what;
            EXPECT_NE(what.find(b.mentions), std::string::npos) << what;
        }
        EXPECT_TRUE(t.field(b.field).isNull());  // a refused value changes nothing
    }

    // Reading in another type converts too, or says which field refused.
    t.field("Naziv").setValue("7,25");
    EXPECT_EQ(t.field("Naziv").asCurrency(), 7.25_cur);
    t.field("Naziv").setValue("sedam");
    EXPECT_THROW(t.field("Naziv").asCurrency(), FieldConvertError);
    t.field("Aktivan").setValue(true);
    EXPECT_THROW(t.field("Aktivan").asDateTime(), FieldConvertError);
    EXPECT_THROW(t.field("Nema"), DatasetError);
}

TEST_F(MemTableTest, CalculatedFieldsFollowTheEditBuffer) {
    t.setOnCalcFields([](MemTable& m) {
        m.field("Iznos").setValue(kv::RoundCurr(-2, m.field("Cijena").asCurrency() * m.field("Kolicina").asCurrency()));
    });
    t.append();
    t.field("Cijena").setValue("2,345");
    t.field("Kolicina").setValue("3");
    EXPECT_EQ(t.field("Iznos").asCurrency(), 7.04_cur);  // 7.035 -> 7.04 before posting
    t.post();
    EXPECT_EQ(t.field("Iznos").asCurrency(), 7.04_cur);
    EXPECT_THROW(t.field("Iznos").setValue(1.0_cur), DatasetError);

    // A callback that writes a data field is refused, and the table is usable afterwards.
    EXPECT_THROW(t.setOnCalcFields([](MemTable& m) { m.field("Cijena").setValue(Currency()); }), DatasetError);
    EXPECT_EQ(t.state(), kv::DatasetState::Browse);
    t.setOnCalcFields({});
    t.edit();
    t.field("Kolicina").setValue(std::int64_t{1});
    t.post();
    EXPECT_EQ(t.field("Cijena").asCurrency(), 2.345_cur);
}

TEST_F(MemTableTest, IndexFieldNamesGiveAStableSortedView) {
    add(1, "b", 2.0_cur);
    add(2, "a", 9.0_cur);
    add(3, "b", 1.0_cur);
    add(4, Value());
    add(5, "a", 9.0_cur);
    t.moveTo(2);  // Sifra 3

    t.setIndexFieldNames("naziv");
    EXPECT_EQ(t.field("Sifra").asInteger(), 3);  // the cursor stays on its record
    EXPECT_EQ(t.recordIndex(), 4u);
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{4, 2, 5, 1, 3}));  // null first, ties in insertion order

    t.setIndexFieldNames("Naziv; Cijena");
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{4, 2, 5, 3, 1}));

    add(6, "a", 0.5_cur);  // a new record goes to its place and the cursor with it
    EXPECT_EQ(t.recordIndex(), 1u);
    t.edit();
    t.field("Naziv").setValue("c");
    t.post();
    EXPECT_EQ(t.recordIndex(), 5u);
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{4, 2, 5, 3, 1, 6}));

    EXPECT_THROW(t.setIndexFieldNames("Naziv;Nema"), DatasetError);
    EXPECT_EQ(t.indexFieldNames(), "Naziv; Cijena");

    t.setIndexFieldNames("");
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));

    const kv::SortableDataset& sortable = t;
    EXPECT_EQ(sortable.sortStyle(), kv::SortStyle::TwoState);
    EXPECT_EQ(sortable.fieldKind("iznos"), FieldKind::Calculated);
    EXPECT_TRUE(sortable.canSort());
    t.setIndexFieldNames("Sifra");
    t.close();
    EXPECT_FALSE(sortable.canSort());
    EXPECT_EQ(t.indexFieldNames(), "Sifra");  // the order outlives closing
}

TEST_F(MemTableTest, ListenersHearPostsAndFieldChanges) {
    std::vector<std::string> heard;
    const int first = t.addAfterPost([&](MemTable& m) { heard.push_back("1:" + m.field("Naziv").asString()); });
    t.addAfterPost([&](MemTable& m) {
        EXPECT_EQ(m.state(), kv::DatasetState::Browse);
        heard.push_back("2:" + m.field("Naziv").asString());
    });
    t.setOnFieldChange([&](MemTable&, const kv::Field& f) { heard.push_back(f.name() + "=" + f.asString()); });

    add(1, "Hljeb");
    t.append();
    t.field("Naziv").setValue("Sir");
    t.cancel();
    t.removeAfterPost(first);
    t.edit();
    t.field("Naziv").setValue("Kifla");
    t.post();

    EXPECT_EQ(heard, (std::vector<std::string>{"Sifra=1", "Naziv=Hljeb", "Cijena=0", "1:Hljeb", "2:Hljeb",
                                               "Naziv=Sir", "Naziv=Kifla", "2:Kifla"}));
}
