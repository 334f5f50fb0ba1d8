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
    for (; !rs.eof(); rs.moveNext()) {
        for (int i = 0; i < rs.fieldCount(); ++i) {
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
