#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "database/database_record.h"

namespace corvane {

// Bytes of a blob column as a record holds them; data is null for SQL NULL.
struct BlobView {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// One column of a record class R: its name, its type and the accessors of its type.
template <class R>
struct RecordColumn {
    const char* name;
    ColumnType type;
    std::function<int64_t(const R&)> getNumber;
    std::function<void(R&, int64_t)> setNumber;
    std::function<const char*(const R&)> getText;
    std::function<void(R&, const char*)> setText;
    std::function<BlobView(const R&)> getBlob;
    std::function<void(R&, const uint8_t*, uint32_t)> setBlob;
};

template <class R>
using RecordColumns = std::vector<RecordColumn<R>>;

// A view of an optional byte vector; an empty vector still gives a non-null pointer so that
// it is stored as an empty blob rather than NULL.
BlobView viewOf(const std::vector<uint8_t>* bytes);

// Builders of the common column kinds. Integers widen to 64 bits on the way out (signed
// fields sign-extended, unsigned, byte and boolean fields zero-extended) and are truncated to
// the field's width on the way in; a boolean reads any non-zero value as true.
namespace column {

template <class R, class B, class V>
RecordColumn<R> number(const char* name, V B::*field) {
    RecordColumn<R> c{name, ColumnType::INTEGER, {}, {}, {}, {}, {}, {}};
    c.getNumber = [field](const R& r) { return static_cast<int64_t>(r.*field); };
    c.setNumber = [field](R& r, int64_t value) {
        if constexpr (std::is_same_v<V, bool>) {
            r.*field = value != 0;
        } else {
            r.*field = static_cast<V>(value);
        }
    };
    return c;
}

template <class R>
RecordColumn<R> number(const char* name, std::function<int64_t(const R&)> get, std::function<void(R&, int64_t)> set) {
    return RecordColumn<R>{name, ColumnType::INTEGER, std::move(get), std::move(set), {}, {}, {}, {}};
}

// A text kept as a standard string: never NULL on the way out, NULL reads as empty.
template <class R, class B>
RecordColumn<R> string(const char* name, std::string B::*field) {
    RecordColumn<R> c{name, ColumnType::TEXT, {}, {}, {}, {}, {}, {}};
    c.getText = [field](const R& r) { return (r.*field).c_str(); };
    c.setText = [field](R& r, const char* value) { r.*field = value ? value : ""; };
    return c;
}

template <class R>
RecordColumn<R> text(const char* name, std::function<const char*(const R&)> get,
                     std::function<void(R&, const char*)> set) {
    return RecordColumn<R>{name, ColumnType::TEXT, {}, {}, std::move(get), std::move(set), {}, {}};
}

template <class R>
RecordColumn<R> blob(const char* name, std::function<BlobView(const R&)> get,
                     std::function<void(R&, const uint8_t*, uint32_t)> set) {
    return RecordColumn<R>{name, ColumnType::BLOB, {}, {}, {}, {}, std::move(get), std::move(set)};
}

// A byte vector held through a unique pointer: absent is NULL, present (even empty) is a blob.
template <class R, class B>
RecordColumn<R> bytes(const char* name, std::unique_ptr<std::vector<uint8_t>> B::*field) {
    return blob<R>(
        name, [field](const R& r) { return viewOf((r.*field).get()); },
        [field](R& r, const uint8_t* data, uint32_t size) {
            r.*field = data ? std::make_unique<std::vector<uint8_t>>(data, data + size) : nullptr;
        });
}

}  // namespace column

// The row interface of a record class R, driven by R's column list. R declares, reachable
// from this class (a friend or public):
//   static const char* const kTableName;
//   static const RecordColumns<R>& columns();
//   static const std::vector<int32_t>& indexColumns();
// Column 0 is the primary key.
template <class R>
class TableRecord : public DatabaseRecord {
public:
    const char* getTableName() const override { return R::kTableName; }
    int32_t getColumnCount() const override { return static_cast<int32_t>(R::columns().size()); }
    int32_t getPrimaryKeyColumn() const override { return 0; }
    const char* const* getColumnNames() const override { return description().names.data(); }
    const ColumnType* getColumnTypes() const override { return description().types.data(); }
    int32_t getIndexCount() const override { return static_cast<int32_t>(R::indexColumns().size()); }
    const int32_t* getIndexColumns() const override {
        const std::vector<int32_t>& indexes = R::indexColumns();
        return indexes.empty() ? nullptr : indexes.data();
    }

    int64_t getNumber(int32_t index) const override {
        const RecordColumn<R>* c = find(index, ColumnType::INTEGER);
        return c && c->getNumber ? c->getNumber(self()) : 0;
    }
    void setNumber(int32_t index, int64_t value) override {
        const RecordColumn<R>* c = find(index, ColumnType::INTEGER);
        if (c && c->setNumber) {
            c->setNumber(self(), value);
        }
    }
    const char* getText(int32_t index) const override {
        const RecordColumn<R>* c = find(index, ColumnType::TEXT);
        return c && c->getText ? c->getText(self()) : nullptr;
    }
    void setText(int32_t index, const char* value) override {
        const RecordColumn<R>* c = find(index, ColumnType::TEXT);
        if (c && c->setText) {
            c->setText(self(), value);
        }
    }
    const uint8_t* getBlob(int32_t index) const override {
        const RecordColumn<R>* c = find(index, ColumnType::BLOB);
        return c && c->getBlob ? c->getBlob(self()).data : nullptr;
    }
    uint32_t getBlobSize(int32_t index) const override {
        const RecordColumn<R>* c = find(index, ColumnType::BLOB);
        return c && c->getBlob ? c->getBlob(self()).size : 0;
    }
    void setBlob(int32_t index, const uint8_t* data, uint32_t size) override {
        const RecordColumn<R>* c = find(index, ColumnType::BLOB);
        if (c && c->setBlob) {
            c->setBlob(self(), data, size);
        }
    }

private:
    struct Description {
        std::vector<const char*> names;
        std::vector<ColumnType> types;
    };

    static const Description& description() {
        static const Description built = []() {
            Description d;
            for (const RecordColumn<R>& c : R::columns()) {
                d.names.push_back(c.name);
                d.types.push_back(c.type);
            }
            return d;
        }();
        return built;
    }

    static const RecordColumn<R>* find(int32_t index, ColumnType type) {
        const RecordColumns<R>& all = R::columns();
        if (index < 0 || static_cast<size_t>(index) >= all.size() || all[static_cast<size_t>(index)].type != type) {
            return nullptr;
        }
        return &all[static_cast<size_t>(index)];
    }

    const R& self() const { return static_cast<const R&>(*this); }
    R& self() { return static_cast<R&>(*this); }
};

}  // namespace corvane
