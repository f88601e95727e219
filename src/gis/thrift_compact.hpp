// Thrift's compact protocol, the encoding of Parquet's page headers and footer: just enough of it
// to write structs of integers, booleans, byte strings, lists and nested structs, field by field in
// rising field-id order as the structs are declared.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "gis/gis_encoding.hpp"

namespace chizuvec {

class ThriftWriter {
  public:
    // The compact protocol's type codes.
    enum Type : std::uint8_t { kTrue = 1, kFalse = 2, kI32 = 5, kI64 = 6, kBinary = 8, kList = 9, kStruct = 12 };

    explicit ThriftWriter(GisBytes& out) : out_(out) {}

    void i32(std::int16_t id, std::int32_t value) {
        field(id, kI32);
        varint(zigzag(value));
    }
    void i64(std::int16_t id, std::int64_t value) {
        field(id, kI64);
        varint(zigzag(value));
    }
    void boolean(std::int16_t id, bool value) { field(id, value ? kTrue : kFalse); }
    void binary(std::int16_t id, std::string_view bytes) {
        field(id, kBinary);
        raw_binary(bytes);
    }
    void begin_struct(std::int16_t id) {
        field(id, kStruct);
        begin_element();
    }
    void end_struct() {
        out_.push_back(0);  // stop
        last_ = stack_.back();
        stack_.pop_back();
    }
    void begin_list(std::int16_t id, Type element, std::size_t size) {
        field(id, kList);
        if (size < 15) {
            out_.push_back(static_cast<std::uint8_t>(size << 4 | element));
        } else {
            out_.push_back(static_cast<std::uint8_t>(0xF0 | element));
            varint(size);
        }
    }
    // List elements: integers and strings as they are, structs between begin_element and end_struct.
    void element_i32(std::int32_t value) { varint(zigzag(value)); }
    void element_binary(std::string_view bytes) { raw_binary(bytes); }
    void begin_element() {
        stack_.push_back(last_);
        last_ = 0;
    }
    // Ends the outermost struct (the one being written, not a field of another).
    void stop() { out_.push_back(0); }

  private:
    static std::uint64_t zigzag(std::int64_t v) {
        return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
    }
    void varint(std::uint64_t v) {
        while (v >= 0x80) {
            out_.push_back(static_cast<std::uint8_t>(v | 0x80));
            v >>= 7;
        }
        out_.push_back(static_cast<std::uint8_t>(v));
    }
    void raw_binary(std::string_view bytes) {
        varint(bytes.size());
        out_.insert(out_.end(), bytes.begin(), bytes.end());
    }
    // A field header: the id as a delta from the previous field's where it fits in four bits.
    void field(std::int16_t id, std::uint8_t type) {
        const int delta = id - last_;
        if (delta > 0 && delta <= 15) {
            out_.push_back(static_cast<std::uint8_t>(delta << 4 | type));
        } else {
            out_.push_back(type);
            varint(zigzag(id));
        }
        last_ = id;
    }

    GisBytes& out_;
    std::int16_t last_ = 0;
    std::vector<std::int16_t> stack_;
};

}  // namespace chizuvec
