// MD5 (RFC 1321): CryptoAPI on Windows, OpenSSL's libcrypto elsewhere.
#pragma once
#include <cstddef>

#include "image_records.h"

// A failure of the platform's service yields 16 zero bytes.
Digest Md5(const void* data, size_t length);
