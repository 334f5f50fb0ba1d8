// SPDX-License-Identifier: MIT
// libFuzzer target for the ADTG reader: any input must either be refused with a message or be
// read completely, every row and field, without a crash or a read out of bounds.
// Built with clang++ -fsanitize=fuzzer,address by scripts/fuzz-smoke.sh.
#include "support/AdtgReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sjql::adtg::AdtgRecordset rs;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!rs.openData(bytes)) {
        // A refusal always says why.
        if (rs.errorString().isEmpty() || rs.isOpen())
            __builtin_trap();
        return 0;
    }
    std::uint64_t sink = 0; // wraps on purpose: only keeps the reads from being optimised away
    QString text;
    for (; !rs.eof(); rs.moveNext()) {
        for (int i = 0; i < rs.fieldCount(); ++i) {
            // A value read in place is the decoded value, whatever the bytes.
            using Kind = sjql::adtg::AdtgRecordset::InPlace::Kind;
            const sjql::adtg::AdtgRecordset::InPlace v = rs.inPlace(i, text);
            const QVariant& decoded = rs.field(i).value();
            const bool agrees =
                v.kind == Kind::Other || (v.kind == Kind::Null && !decoded.isValid()) ||
                (v.kind == Kind::Integer && decoded.isValid() && decoded.toLongLong() == v.integer) ||
                (v.kind == Kind::Scaled && decoded.isValid() &&
                 sjql::adtg::detail::formatScaled(v.magnitude, v.scale, v.negative) == decoded.toString()) ||
                (v.kind == Kind::Text && decoded.isValid() && decoded.toString() == text);
            if (!agrees)
                __builtin_trap();
            const sjql::adtg::AdtgField f = rs.field(i);
            sink += static_cast<std::uint64_t>(f.toText().size()) + static_cast<std::uint64_t>(f.toInteger()) +
                    static_cast<std::uint64_t>(f.toCurrency()) +
                    static_cast<std::uint64_t>(f.toDateTime().date().day());
            (void)f.toAmount();
        }
        (void)rs.fieldIndex(u"ID");
    }
    return sink == 42 ? 0 : 0; // libFuzzer expects 0
}
