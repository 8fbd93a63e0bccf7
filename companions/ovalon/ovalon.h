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

#ifdef __cplusplus
extern "C" {
#endif

/* ---- life cycle ----------------------------------------------------------------------------- */
/* Sets up the crypto library (version check, no secure memory). OVALON_OK or OVALON_E_INIT_FAILED. */
int OVALON_CALL Initialize(void);
/* Marks the engine stopped. Always OVALON_OK. */
int OVALON_CALL Uninitialize(void);
/* Releases a block returned by the engine through an out pointer. Null is ignored. */
void OVALON_CALL FreeMemory(void* p);

/* ---- SM3 digests (implemented) -------------------------------------------------------------- */
/*
 * withZ == 0: *out = SM3(data). withZ != 0: *out = SM3(Z || data) where
 *   Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA),
 *   ID = "1234567812345678" (ENTL = 0x0080), a, b, xG, yG the sm2p256v1 curve parameters and
 *   (xA, yA) the public key of base64Cert: the base64 of a DER X.509 certificate whose key is on
 *   curve 1.2.156.10197.1.301. Line breaks and blanks inside the base64 are ignored, and a PEM
 *   armour (-----BEGIN ...----- / -----END ...-----) is accepted. With withZ == 0 base64Cert is
 *   not looked at. data may be null when length is 0.
 * On success: OVALON_OK, *out = 32 bytes (free with FreeMemory), *outLength = 32.
 */
int OVALON_CALL SM3HashData(const unsigned char* data, int length, int withZ, const char* base64Cert,
                            unsigned char** out, int* outLength);
/* As SM3HashData over the contents of the file at path (ANSI code page), read in blocks. */
/* SM3HashFileW: the same with a UTF-16 path of any length. */
int OVALON_CALL SM3HashFileW(const wchar_t* path, int withZ, const char* base64Cert, unsigned char** out,
                             int* outLength);
int OVALON_CALL SM3HashFile(const char* path, int withZ, const char* base64Cert, unsigned char** out,
                            int* outLength);

/* ---- not offered by this engine: each returns OVALON_E_NOT_SUPPORTED ------------------------ */
/* keyId names a signing key (certificate) held by the engine. */
int OVALON_CALL SignData_PKCS1(const unsigned char* data, int length, const char* keyId,
                               unsigned char** signature, int* signatureLength);
int OVALON_CALL SignData_PKCS7Detached(const unsigned char* data, int length, const char* keyId,
                                       unsigned char** signature, int* signatureLength);
int OVALON_CALL SignData_PKCS7Attached(const unsigned char* data, int length, const char* keyId,
                                       unsigned char** signedData, int* signedDataLength);
int OVALON_CALL SignFile_PKCS7Detached(const char* path, const char* keyId, unsigned char** signature,
                                       int* signatureLength);
int OVALON_CALL VerifyDataSignature_PKCS1(const unsigned char* data, int length,
                                          const unsigned char* signature, int signatureLength,
                                          const char* base64Cert);
/* On success *signerCert receives the base64 of the signer's certificate. */
int OVALON_CALL VerifyDataSignature_PKCS7Detached(const unsigned char* data, int length,
                                                  const unsigned char* signature, int signatureLength,
                                                  char** signerCert, int* signerCertLength);
int OVALON_CALL VerifyDataSignature_PKCS7Attached(const unsigned char* signedData, int length,
                                                  unsigned char** content, int* contentLength);
int OVALON_CALL VerifyFileSignature_PKCS7Detached(const char* path, const unsigned char* signature,
                                                  int signatureLength);
int OVALON_CALL EncryptDataToCMSEnvelope(const unsigned char* data, int length,
                                         const char* base64RecipientCert, unsigned char** envelope,
                                         int* envelopeLength);
int OVALON_CALL SignAndEncryptData(const unsigned char* data, int length, const char* keyId,
                                   const char* base64RecipientCert, unsigned char** envelope,
                                   int* envelopeLength);
int OVALON_CALL DecryptDataFromCMSEnvelope(const unsigned char* envelope, int length,
                                           const char* keyId, unsigned char** content,
                                           int* contentLength);
int OVALON_CALL DecryptAndVerifyDataSignature(const unsigned char* envelope, int length,
                                              const char* keyId, unsigned char** content,
                                              int* contentLength);
int OVALON_CALL VerifyCertificate(const char* base64Cert);
/* infoType selects a field (subject, issuer, serial, validity, ...); *info is narrow text. */
int OVALON_CALL GetCertificateInfo(const char* base64Cert, int infoType, char** info, int* infoLength);
int OVALON_CALL GetPublicCertFromPFX(const unsigned char* pfx, int pfxLength, const char* password,
                                     char** base64Cert, int* base64CertLength);
int OVALON_CALL SM2EncryptData(const unsigned char* data, int length, const char* base64Cert,
                               unsigned char** out, int* outLength);
int OVALON_CALL SM2DecryptData(const unsigned char* data, int length, const char* keyId,
                               unsigned char** out, int* outLength);
int OVALON_CALL GenerateSM2KeyPair(unsigned char** publicKey, int* publicKeyLength,
                                   unsigned char** privateKey, int* privateKeyLength);
int OVALON_CALL SM2EncryptDatabyKey(const unsigned char* data, int length,
                                    const unsigned char* publicKey, int publicKeyLength,
                                    unsigned char** out, int* outLength);
int OVALON_CALL SM2DecryptDatabyKey(const unsigned char* data, int length,
                                    const unsigned char* privateKey, int privateKeyLength,
                                    unsigned char** out, int* outLength);
int OVALON_CALL SM2DecryptDatabySM2File(const unsigned char* data, int length, const char* keyFile,
                                        const char* password, unsigned char** out, int* outLength);
int OVALON_CALL SM2SignHash(const unsigned char* hash, int hashLength, const char* keyId,
                            unsigned char** signature, int* signatureLength);
int OVALON_CALL SM2SignHashbySM2File(const unsigned char* hash, int hashLength, const char* keyFile,
                                     const char* password, unsigned char** signature,
                                     int* signatureLength);
int OVALON_CALL SM2VerifyHash(const unsigned char* hash, int hashLength,
                              const unsigned char* signature, int signatureLength,
                              const char* base64Cert);
/* key is the 16-byte SM4 key. */
int OVALON_CALL SM4EncryptData(const unsigned char* data, int length, const unsigned char* key,
                               int keyLength, unsigned char** out, int* outLength);
int OVALON_CALL SM4DecryptData(const unsigned char* data, int length, const unsigned char* key,
                               int keyLength, unsigned char** out, int* outLength);
int OVALON_CALL SM4EncryptFile(const char* inPath, const char* outPath, const unsigned char* key,
                               int keyLength);
int OVALON_CALL SM4DecryptFile(const char* inPath, const char* outPath, const unsigned char* key,
                               int keyLength);

#ifdef __cplusplus
}
#endif

/* Function pointer types for callers that bind at run time with GetProcAddress. */
typedef int(OVALON_CALL* OvalonInitializeFn)(void);
typedef int(OVALON_CALL* OvalonUninitializeFn)(void);
typedef void(OVALON_CALL* OvalonFreeMemoryFn)(void*);
typedef int(OVALON_CALL* OvalonSM3HashDataFn)(const unsigned char*, int, int, const char*,
                                              unsigned char**, int*);
typedef int(OVALON_CALL* OvalonSM3HashFileFn)(const char*, int, const char*, unsigned char**, int*);

#endif
