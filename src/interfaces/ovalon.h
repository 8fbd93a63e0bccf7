/*
 * OVALON.x86.dll: the crypto engine companion of the control.
 *
 * Calling convention
 *   Every entry point is __stdcall (the callee pops its arguments) and is exported by its plain,
 *   undecorated name (Initialize, SM3HashData, ...) through a .def file, so GetProcAddress(h,
 *   "SM3HashData") finds it. Strings are NUL-terminated narrow strings; paths are in the ANSI code
 *   page. Lengths are ints; a negative length is an argument error.
 *
 * Outputs
 *   Functions that return data take `unsigned char** out` / `int* outLength` (or the named
 *   equivalents below). On success *out is a block allocated by the engine, to be released with
 *   FreeMemory, and *outLength its size in bytes. On any failure every output the caller passed is
 *   cleared: pointers to NULL, lengths to 0. Null output pointers are tolerated by the functions
 *   that do not support the operation; the SM3 functions reject them with OVALON_E_INVALID_ARG.
 *
 * Life cycle
 *   Initialize once before anything else (calling it again is harmless); Uninitialize when done.
 *   Uninitialize only marks the engine as stopped: it starts no threads and waits for nothing, so
 *   it is safe from process exit. After Uninitialize the engine reports OVALON_E_NOT_INITIALIZED
 *   until Initialize is called again.
 *
 * What is implemented
 *   Initialize, Uninitialize, SM3HashData, SM3HashFile and FreeMemory. Every other entry point
 *   validates nothing, clears its outputs and returns OVALON_E_NOT_SUPPORTED.
 */
#ifndef OVALON_H
#define OVALON_H

#if defined(_WIN32)
#define OVALON_CALL __stdcall
#else
#define OVALON_CALL
#endif

/* ---- status values -------------------------------------------------------------------------- */
#define OVALON_OK                  0
#define OVALON_E_INVALID_ARG       0x1001 /* null out pointer, null data with length > 0,
                                             negative length, null path */
#define OVALON_E_NOT_INITIALIZED   0x1002 /* Initialize not called, or Uninitialize called since */
#define OVALON_E_INIT_FAILED       0x1003 /* the crypto library could not be set up */
#define OVALON_E_OUT_OF_MEMORY     0x1004
#define OVALON_E_CRYPTO            0x1005 /* the crypto library failed an operation */
#define OVALON_E_NO_CERTIFICATE    0x2001 /* withZ set but the certificate is null or empty */
#define OVALON_E_BAD_BASE64        0x2002 /* the certificate text is not base64 */
#define OVALON_E_BAD_CERTIFICATE   0x2003 /* the decoded bytes are not an X.509 certificate */
#define OVALON_E_NOT_SM2_KEY       0x2004 /* the certificate's key is not an SM2 (1.2.156.10197.1.301) key */
#define OVALON_E_BAD_PUBLIC_KEY    0x2005 /* the key is not an uncompressed point on the SM2 curve */
#define OVALON_E_FILE_OPEN         0x3001 /* the file cannot be opened for reading */
#define OVALON_E_FILE_READ         0x3002 /* reading the file failed part-way */
#define OVALON_E_NOT_SUPPORTED     0x5001 /* this engine does not offer the operation */

/* Length of an SM3 digest and of the SM2 Z value. */
#define OVALON_SM3_DIGEST_LENGTH 32

/*
 * Every entry point, once, in the engine's order: X(name, bytes, return type, (parameters)).
 * bytes is the size of the arguments on the 32-bit stack, the "@bytes" of the __stdcall symbol.
 * The list gives the declarations below, a function pointer type OvalonNameFn for each entry, the
 * struct OvalonEntryPoints of typed pointers a caller binds at run time with GetProcAddress, and
 * the module's .def (generated from these lines at build time: one X( per line).
 *
 * Life cycle
 *   Initialize sets up the crypto library (version check, no secure memory): OVALON_OK or
 *   OVALON_E_INIT_FAILED. Uninitialize marks the engine stopped: always OVALON_OK. FreeMemory
 *   releases a block returned through an out pointer; null is ignored.
 *
 * SM3 digests (implemented)
 *   SM3HashData: withZ == 0: *out = SM3(data). withZ != 0: *out = SM3(Z || data) where
 *     Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA),
 *     ID = "1234567812345678" (ENTL = 0x0080), a, b, xG, yG the sm2p256v1 curve parameters and
 *     (xA, yA) the public key of base64Cert: the base64 of a DER X.509 certificate whose key is on
 *     curve 1.2.156.10197.1.301. Line breaks and blanks inside the base64 are ignored, and a PEM
 *     armour (-----BEGIN ...----- / -----END ...-----) is accepted. With withZ == 0 base64Cert is
 *     not looked at. data may be null when length is 0.
 *     On success: OVALON_OK, *out = 32 bytes (free with FreeMemory), *outLength = 32.
 *   SM3HashFile: as SM3HashData over the contents of the file at path (ANSI code page), read in
 *     blocks. SM3HashFileW (beside the list, see OVALON_EXTRA_ENTRY_POINTS): the same with a UTF-16
 *     path of any length.
 *
 * Not offered by this engine: every other entry returns OVALON_E_NOT_SUPPORTED. keyId names a
 *   signing key (certificate) held by the engine; VerifyDataSignature_PKCS7Detached hands the
 *   base64 of the signer's certificate to *signerCert; GetCertificateInfo's infoType selects a
 *   field (subject, issuer, serial, validity, ...) and *info is narrow text; an SM4 key is 16 bytes.
 */
#define OVALON_ENTRY_POINTS(X) \
X(Initialize, 0, int, (void)) \
X(Uninitialize, 0, int, (void)) \
X(SignData_PKCS1, 20, int, (const unsigned char* data, int length, const char* keyId, \
                            unsigned char** signature, int* signatureLength)) \
X(SignData_PKCS7Detached, 20, int, (const unsigned char* data, int length, const char* keyId, \
                                    unsigned char** signature, int* signatureLength)) \
X(SignData_PKCS7Attached, 20, int, (const unsigned char* data, int length, const char* keyId, \
                                    unsigned char** signedData, int* signedDataLength)) \
X(SignFile_PKCS7Detached, 16, int, (const char* path, const char* keyId, unsigned char** signature, \
                                    int* signatureLength)) \
X(VerifyDataSignature_PKCS1, 20, int, (const unsigned char* data, int length, \
                                       const unsigned char* signature, int signatureLength, \
                                       const char* base64Cert)) \
X(VerifyDataSignature_PKCS7Detached, 24, int, (const unsigned char* data, int length, \
                                               const unsigned char* signature, int signatureLength, \
                                               char** signerCert, int* signerCertLength)) \
X(VerifyDataSignature_PKCS7Attached, 16, int, (const unsigned char* signedData, int length, \
                                               unsigned char** content, int* contentLength)) \
X(VerifyFileSignature_PKCS7Detached, 12, int, (const char* path, const unsigned char* signature, \
                                               int signatureLength)) \
X(EncryptDataToCMSEnvelope, 20, int, (const unsigned char* data, int length, \
                                      const char* base64RecipientCert, unsigned char** envelope, \
                                      int* envelopeLength)) \
X(SignAndEncryptData, 24, int, (const unsigned char* data, int length, const char* keyId, \
                                const char* base64RecipientCert, unsigned char** envelope, \
                                int* envelopeLength)) \
X(DecryptDataFromCMSEnvelope, 20, int, (const unsigned char* envelope, int length, \
                                        const char* keyId, unsigned char** content, \
                                        int* contentLength)) \
X(DecryptAndVerifyDataSignature, 20, int, (const unsigned char* envelope, int length, \
                                           const char* keyId, unsigned char** content, \
                                           int* contentLength)) \
X(VerifyCertificate, 4, int, (const char* base64Cert)) \
X(GetCertificateInfo, 16, int, (const char* base64Cert, int infoType, char** info, int* infoLength)) \
X(GetPublicCertFromPFX, 20, int, (const unsigned char* pfx, int pfxLength, const char* password, \
                                  char** base64Cert, int* base64CertLength)) \
X(SM3HashData, 24, int, (const unsigned char* data, int length, int withZ, const char* base64Cert, \
                         unsigned char** out, int* outLength)) \
X(SM3HashFile, 20, int, (const char* path, int withZ, const char* base64Cert, unsigned char** out, \
                         int* outLength)) \
X(SM2EncryptData, 20, int, (const unsigned char* data, int length, const char* base64Cert, \
                            unsigned char** out, int* outLength)) \
X(SM2DecryptData, 20, int, (const unsigned char* data, int length, const char* keyId, \
                            unsigned char** out, int* outLength)) \
X(GenerateSM2KeyPair, 16, int, (unsigned char** publicKey, int* publicKeyLength, \
                                unsigned char** privateKey, int* privateKeyLength)) \
X(SM2EncryptDatabyKey, 24, int, (const unsigned char* data, int length, \
                                 const unsigned char* publicKey, int publicKeyLength, \
                                 unsigned char** out, int* outLength)) \
X(SM2DecryptDatabyKey, 24, int, (const unsigned char* data, int length, \
                                 const unsigned char* privateKey, int privateKeyLength, \
                                 unsigned char** out, int* outLength)) \
X(SM2DecryptDatabySM2File, 24, int, (const unsigned char* data, int length, const char* keyFile, \
                                     const char* password, unsigned char** out, int* outLength)) \
X(SM2SignHash, 20, int, (const unsigned char* hash, int hashLength, const char* keyId, \
                         unsigned char** signature, int* signatureLength)) \
X(SM2SignHashbySM2File, 24, int, (const unsigned char* hash, int hashLength, const char* keyFile, \
                                  const char* password, unsigned char** signature, \
                                  int* signatureLength)) \
X(SM2VerifyHash, 20, int, (const unsigned char* hash, int hashLength, \
                           const unsigned char* signature, int signatureLength, \
                           const char* base64Cert)) \
X(SM4EncryptData, 24, int, (const unsigned char* data, int length, const unsigned char* key, \
                            int keyLength, unsigned char** out, int* outLength)) \
X(SM4DecryptData, 24, int, (const unsigned char* data, int length, const unsigned char* key, \
                            int keyLength, unsigned char** out, int* outLength)) \
X(SM4EncryptFile, 16, int, (const char* inPath, const char* outPath, const unsigned char* key, \
                            int keyLength)) \
X(SM4DecryptFile, 16, int, (const char* inPath, const char* outPath, const unsigned char* key, \
                            int keyLength)) \
X(FreeMemory, 4, void, (void* p))

/* Exported beside the list; a caller looks for it and falls back on SM3HashFile without it. */
#define OVALON_EXTRA_ENTRY_POINTS(X) \
X(SM3HashFileW, 20, int, (const wchar_t* path, int withZ, const char* base64Cert, unsigned char** out, \
                          int* outLength))

#ifdef __cplusplus
extern "C" {
#endif

#define OVALON_DECLARE_(name, bytes, type, parameters) type OVALON_CALL name parameters;
OVALON_ENTRY_POINTS(OVALON_DECLARE_)
OVALON_EXTRA_ENTRY_POINTS(OVALON_DECLARE_)
#undef OVALON_DECLARE_

#ifdef __cplusplus
}
#endif

/* Function pointer types for callers that bind at run time with GetProcAddress. */
#define OVALON_POINTER_TYPE_(name, bytes, type, parameters) typedef type(OVALON_CALL* Ovalon##name##Fn) parameters;
OVALON_ENTRY_POINTS(OVALON_POINTER_TYPE_)
OVALON_EXTRA_ENTRY_POINTS(OVALON_POINTER_TYPE_)
#undef OVALON_POINTER_TYPE_

/* One typed pointer per entry of the list, named as the entry. */
#define OVALON_POINTER_MEMBER_(name, bytes, type, parameters) Ovalon##name##Fn name;
typedef struct OvalonEntryPoints {
    OVALON_ENTRY_POINTS(OVALON_POINTER_MEMBER_)
} OvalonEntryPoints;
#undef OVALON_POINTER_MEMBER_

#define OVALON_COUNT_ENTRY_(name, bytes, type, parameters) +1
enum { OVALON_ENTRY_POINT_COUNT = 0 OVALON_ENTRY_POINTS(OVALON_COUNT_ENTRY_) };
#undef OVALON_COUNT_ENTRY_

#endif
