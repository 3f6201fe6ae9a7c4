#pragma once

// The names and descriptions of the S.M.A.R.T. attributes, from the file
// "attribute.en" beside the program: one section per attribute number with the
// keys "Name", "Description" and "Warning".

#include "foundation/IniFile.h"

namespace valmora {

class TSMARTAttrDecription final : public TMemIniFile
{
public:
    // Reads the whole file (UTF-16 or UTF-8 by its byte-order mark, else 8-bit
    // text); a missing file gives no descriptions. Raises when the file exists
    // but cannot be read.
    explicit TSMARTAttrDecription(const QString &fileName);

    // "Name" of the section named by the number in decimal; "Unkown" when missing.
    QString AttributeName(int attribute) const;
    // "Description" of the section; empty when missing.
    QString AttributeDescription(const QString &section) const;
    // True when "Warning" is a non-zero integer (decimal, "0x"/"$" hexadecimal).
    bool AttributeWarning(const QString &section) const;
};

// An integer as the settings files write it: decimal, or hexadecimal after
// "0x", "0X" or "$", with an optional sign; nullopt for anything else.
std::optional<qint64> ParseIniInteger(const QString &text);

} // namespace valmora
