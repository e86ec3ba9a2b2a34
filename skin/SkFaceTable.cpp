#include "skin/SkFaceTable.h"

#include "platform/ResStrings.h"
#include "skin/skcont.h"

#include <QtEndian>

namespace zv {

namespace {

std::int32_t I32(const QByteArray& data, int index)
{
    return qFromLittleEndian<qint32>(data.constData() + 4 * index);
}

void Expect(const SkStoredValue& v, qsizetype size, const SkStoredObject& button)
{
    if (v.Data.size() != size) {
        throw ESkFaceTableError(zv::LoadResString(zv::SButtonFaceSize)
                                    .arg(QString::fromLatin1(button.Name), QString::fromLatin1(v.Name),
                                        QString::number(v.Data.size()), QString::number(size)));
    }
}

void PutI32(QByteArray& out, std::int32_t v)
{
    char b[4];
    qToLittleEndian<qint32>(v, b);
    out.append(b, 4);
}

} // namespace

int SkFaceEntryFor(
    int state, const TSkFaceTable& table, const std::function<bool(const FaceEntry&)>& hasImage)
{
    if (state < 0 || state > 8) {
        return -1;
    }
    if (hasImage(table[std::size_t(state)])) {
        return state;
    }
    switch (state) {
    case bsDisabled:
    case bsHot:
    case bsUnused5:
        return bsUp;
    case bsLatched:
    case bsPressed:
    case bsMenuOpen:
    case bsDisabledLatched:
        // Without a pressed face the up face shows: a held button must not vanish.
        return hasImage(table[bsPressed]) ? bsPressed : bsUp;
    default:
        return -1;
    }
}

void ReadStoredFaces(const SkStoredObject& button, TSkFaceTable& table, QRgb& hitColor)
{
    TSkFaceTable t = table;
    QRgb hit = hitColor;
    for (const SkStoredValue& v : button.Values) {
        if (v.Name == "ButtonFaceIndicesNew2") {
            Expect(v, 72, button);
            for (int s = 0; s < 9; ++s) {
                t[s].ImageIndex = I32(v.Data, s);
                t[s].ListIndex = I32(v.Data, 17 - s); // stored from state 8 down to 0
            }
        } else if (v.Name == "ButtonFaceIndicesNew") {
            Expect(v, 64, button);
            for (int s = 0; s < 8; ++s) {
                t[s].ListIndex = I32(v.Data, s);
                t[s].ImageIndex = I32(v.Data, 8 + s);
            }
        } else if (v.Name == "ButtonFaceIndices") {
            Expect(v, 64, button);
            for (int s = 0; s < 8; ++s) {
                t[s].ListIndex = I32(v.Data, 2 * s);
                t[s].ImageIndex = I32(v.Data, 2 * s + 1);
            }
        } else if (v.Name == "ButtonFaceTransColNew" || v.Name == "ButtonFaceTransCol") {
            Expect(v, 4, button);
            hit = ColorFromBgr(qFromLittleEndian<quint32>(v.Data.constData()));
        }
    }
    table = t;
    hitColor = hit;
}

std::vector<SkStoredValue> WriteStoredFaces(const TSkFaceTable& table, QRgb hitColor)
{
    QByteArray faces;
    for (int s = 0; s < 9; ++s) {
        PutI32(faces, table[s].ImageIndex);
    }
    for (int s = 8; s >= 0; --s) {
        PutI32(faces, table[s].ListIndex);
    }
    QByteArray colour;
    PutI32(colour, std::int32_t(ColorToBgr(hitColor)));
    return { { "ButtonFaceIndicesNew2", faces }, { "ButtonFaceTransColNew", colour } };
}

} // namespace zv
