#pragma once

#include <cstdint>

namespace corvane {

// How a column is stored and moved: integers as signed 64-bit numbers, texts as
// NUL-terminated UTF-8 strings, blobs as byte strings with their length.
enum class ColumnType : int32_t {
    INTEGER = 0,
    TEXT = 1,
    BLOB = 2,
};

// A row of a local table. The description (table name, columns, declared indexes) is constant
// data of the record class; the accessors move one column at a time. A record answers only for
// its own columns of the matching type: any other index reads as 0 or null and is not written.
class DatabaseRecord {
public:
    virtual ~DatabaseRecord() = default;

    virtual const char* getTableName() const = 0;
    virtual int32_t getColumnCount() const = 0;
    virtual int32_t getPrimaryKeyColumn() const = 0;
    virtual const char* const* getColumnNames() const = 0;
    virtual const ColumnType* getColumnTypes() const = 0;
    // Declared for documentation only: no back end creates an index from them.
    virtual int32_t getIndexCount() const = 0;
    virtual const int32_t* getIndexColumns() const = 0;

    virtual int64_t getNumber(int32_t column) const = 0;
    virtual void setNumber(int32_t column, int64_t value) = 0;
    // Null stands for SQL NULL.
    virtual const char* getText(int32_t column) const = 0;
    virtual void setText(int32_t column, const char* value) = 0;
    // Null stands for SQL NULL; getBlobSize is only meaningful when getBlob is not null.
    virtual const uint8_t* getBlob(int32_t column) const = 0;
    virtual uint32_t getBlobSize(int32_t column) const = 0;
    virtual void setBlob(int32_t column, const uint8_t* data, uint32_t size) = 0;
};

}  // namespace corvane
