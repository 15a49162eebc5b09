// The web entrance's hashes from Qt's QCryptographicHash.
#include "web/Digest.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <algorithm>

namespace {

template <typename Digest>
Digest hashWith(QCryptographicHash::Algorithm algorithm, std::string_view bytes)
{
    QByteArray result = QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), algorithm);
    Digest digest {};
    std::copy_n(reinterpret_cast<const unsigned char*>(result.constData()), std::min(digest.size(), static_cast<size_t>(result.size())), digest.begin());
    return digest;
}

} // namespace

Sha1Digest sha1(std::string_view bytes) { return hashWith<Sha1Digest>(QCryptographicHash::Sha1, bytes); }

Sha256Digest sha256(std::string_view bytes) { return hashWith<Sha256Digest>(QCryptographicHash::Sha256, bytes); }
