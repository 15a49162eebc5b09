// The web entrance's hashes from Windows' CNG (BCrypt), with the calls Windows 7 has: a
// provider, a hash object, the data, the result.
#include "web/Digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

namespace {

// An algorithm provider, closed with its owner.
class Provider {
public:
    explicit Provider(LPCWSTR algorithm)
    {
        if (BCryptOpenAlgorithmProvider(&m_handle, algorithm, nullptr, 0) < 0)
            m_handle = nullptr;
    }
    ~Provider()
    {
        if (m_handle)
            BCryptCloseAlgorithmProvider(m_handle, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

// A hash object of that provider, destroyed with its owner.
class HashObject {
public:
    explicit HashObject(const Provider& provider)
    {
        if (!provider.get() || BCryptCreateHash(provider.get(), &m_handle, nullptr, 0, nullptr, 0, 0) < 0)
            m_handle = nullptr;
    }
    ~HashObject()
    {
        if (m_handle)
            BCryptDestroyHash(m_handle);
    }
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    BCRYPT_HASH_HANDLE get() const { return m_handle; }

private:
    BCRYPT_HASH_HANDLE m_handle = nullptr;
};

// All zero bytes when the platform refuses: the handshake or the policy then fails at the
// browser, which is all that can be done without a hash.
template <typename Digest>
Digest hashWith(LPCWSTR algorithm, std::string_view bytes)
{
    Digest digest {};
    Provider provider(algorithm);
    HashObject hash(provider);
    if (!hash.get())
        return digest;
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    size_t left = bytes.size();
    while (left > 0) {
        ULONG piece = left > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(left);
        if (BCryptHashData(hash.get(), data, piece, 0) < 0)
            return Digest {};
        data += piece;
        left -= piece;
    }
    if (BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) < 0)
        return Digest {};
    return digest;
}

} // namespace

Sha1Digest sha1(std::string_view bytes) { return hashWith<Sha1Digest>(BCRYPT_SHA1_ALGORITHM, bytes); }

Sha256Digest sha256(std::string_view bytes) { return hashWith<Sha256Digest>(BCRYPT_SHA256_ALGORITHM, bytes); }
