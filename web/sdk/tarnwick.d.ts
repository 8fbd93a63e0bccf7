// Types of the page SDK (tarnwick.js). The methods carry the control's names and give its
// results; a failure gives the control's failure value ("" or -1, or 1 for an archive deleted
// before) and leaves the control's text for GetLastErrorInfo. A promise rejects only when its call
// is aborted. `checked` holds the same methods rejecting a failure with a TarnwickError instead.
// Async iterables are part of what the calls take: a project compiled for an older target (or
// with no "lib" at all) gets their declarations from here.
/// <reference lib="es2018.asynciterable" />

/** What stands where the control takes a path: a picked file, any Blob, bytes; in Node, a path. */
export type LocalFile = File | Blob | ArrayBufferView | ArrayBuffer | ArrayLike<number> | string;

/**
 * What stands where the control takes a script array: bytes (never copied whole, never
 * detached), or an array (or array-like) of values read as the control reads them (value & 255;
 * true is 1; numeric text counts as its number; anything else is refused with the element's text).
 */
export type MemoryFile = ArrayBufferView | ArrayBuffer | ArrayLike<number | string | boolean>;

export interface CallOptions {
  /** Called as the work goes on: bytes done, bytes in all. */
  onProgress?: (done: number, total: number) => void;
  /** Cancels the call: it rejects at once with an AbortError and leaves the last-error text as it was. */
  signal?: AbortSignal;
}

/** An archive made by this object: a zip File named like the control's temporary archives. */
export type Archive = File;

export interface OpenOptions {
  /** Where tarnwick.wasm is (default: beside tarnwick.js); fetched by the first call that needs it, not by open(). */
  wasmUrl?: string | URL;
  /** Where tarnwick-worker.js is (default: beside tarnwick.js). */
  workerUrl?: string | URL;
  /** false runs the work on the calling thread instead of a worker (Node always does). */
  worker?: boolean;
  /** Shown where the control shows a message box (archives refused or failed). */
  messageBox?: (text: string) => void;
  /**
   * The one language of every text the object gives: its methods' texts (GetLastErrorInfo), and
   * the messages of every TarnwickError of its calls, digest(), verifySm2(), zip(), zipStream() and
   * openZip() with what it returns. 'zh' (the default): the control's Chinese texts, character for
   * character; 'en': English. The codes (`code`) are the same in both. Any other string is a
   * RangeError, anything else a TypeError, from open() before anything else.
   */
  language?: Language;
}

/** The languages an object speaks. */
export type Language = 'zh' | 'en';

/** The names of the methods that can fail. */
export type MethodName =
  | 'GetLocalFileSize' | 'GetLocalFileHeadSigned' | 'CreateZipFromLocalFile' | 'DeleteFileFromCreateZip'
  | 'GetLocalFileSHA256' | 'GetLocalFileSM3' | 'GetMemFileHeadSigned' | 'GetMemFileSM3' | 'GetMemFileSize'
  | 'GetMemMD5FileHeadSigned' | 'GetMemFileSHA256' | 'CreateZipFromMemFile' | 'zip' | 'digest';

/**
 * An entry of an archive of many files: a File (named by its webkitRelativePath when a folder was
 * picked, else by its name); { name, source, lastModified? } (a name ending in "/" and no source or an empty one
 * is a folder, with bytes it is refused); in Chromium a FileSystemDirectoryHandle (its files, recursively, under its name);
 * in Node a path (a file by its base name, a folder with everything under it, empty folders kept).
 */
export type ArchiveEntry =
  | File
  | { name: string; source?: Blob | ArrayBufferView | ArrayBuffer; lastModified?: number }
  | FileSystemDirectoryHandle
  | FileSystemFileHandle
  | string;

export interface ZipOptions {
  /** The archive File's name (zip only; default "archive.zip"). */
  name?: string;
  /**
   * How names are stored: 'utf8' (default) UTF-8 with the flag throughout, read alike by every
   * tool on every system; 'control' in code page 936 without the UTF-8 flag where every character
   * has a place there, else UTF-8 with the flag (for the built-in zip folders of older Windows,
   * which ignore the flag).
   */
  names?: 'control' | 'utf8';
  /**
   * true: a name Windows' rule refuses is made acceptable instead of refusing the archive: each of
   * <>:"|?*, DEL and the control characters becomes "_", a device name gets "_" after it
   * ("con.txt" -> "con_.txt"), dots and blanks ending a part go (a part left empty is "_"), and
   * names that are one on Windows (case aside, a file and a folder too) are numbered
   * ("name (2).ext"). Absolute names, drives, "." and ".." parts and empty names stay refused.
   */
  fixNames?: boolean;
  /** With fixNames: called once for each entry renamed, before the archive's first byte, in entry order. */
  onRename?: (from: string, to: string) => void;
  /** Deflate level 0-9 (default 6; 0 stores). An entry that deflate does not shrink is stored. */
  level?: number;
  /** Called as each entry starts, in archive order. */
  onEntry?: (name: string, index: number) => void;
  /** Bytes of the sources read, and in all. */
  onProgress?: (done: number, total: number) => void;
  /** Cancels: zip rejects with an AbortError, the stream errors with one. */
  signal?: AbortSignal;
}
// Bad options: zip() rejects with a TypeError or RangeError (as digest() does), zipStream() throws it.

/** The failure of a checked call. */
export declare class TarnwickError extends Error {
  readonly name: 'TarnwickError';
  /** The text for this failure on one line (a line break in the control's text becomes a space). */
  readonly message: string;
  /** The control's text for this failure as it stands (what GetLastErrorInfo would have said). */
  readonly text: string;
  readonly method: MethodName;
  /** The control's failure value the call would have resolved with (undefined for digest, zip and zipStream). */
  readonly result: '' | -1 | 1 | undefined;
  /** The crypto engine's status (SM3 calls: a refused certificate 0x2001..0x2005, a failed read 0x3002). */
  readonly engineStatus?: number;
  /** The zip status where packing failed ("source changed"). */
  readonly zipStatus?: string;
  /**
   * 'unavailable' for any call whose worker or module did not load (the address named in the
   * text; a later call tries again). zip and zipStream: what went wrong ('empty-name', 'absolute-name', 'drive-name', 'stream-name',
   * 'dot-name', 'device-name', 'bad-character', 'trailing-dot', 'duplicate-name', 'long-name',
   * 'not-found', 'name-too-long', 'link-loop', 'bad-name-encoding', 'not-a-file', 'folder-loop',
   * 'no-source', 'bad-entry', 'no-entries', 'folder-with-data', 'changed', 'gone', 'unreadable', 'bad-date',
   * 'failed').
   */
  readonly code?: string;
  /** zip and zipStream: the entry's name where the failure concerns one. */
  readonly entry?: string;
}

/** The algorithms digest() computes; CRCs are given as their big-endian bytes. */
export type DigestAlgorithm = 'md5' | 'sha1' | 'sha256' | 'sm3' | 'crc32' | 'crc32c' | 'crc64ecma' | 'crc64nvme';

/** What digest() reads: a picked file or any Blob, bytes, a stream of bytes; in Node, a path. */
export type DigestSource = Blob | ArrayBufferView | ArrayBuffer | ReadableStream<Uint8Array> | AsyncIterable<Uint8Array> | string;

/** Digests by algorithm: each one asked for is there (all of them optional when the names asked are not known). */
export type Digests<A extends DigestAlgorithm = DigestAlgorithm> =
  DigestAlgorithm extends A ? Partial<Record<DigestAlgorithm, string>> : Record<A, string>;

export interface DigestChunk<C extends DigestAlgorithm = DigestAlgorithm> {
  index: number;
  offset: number;
  length: number;
  digests: Digests<C>;
}

/** A: the algorithms of the whole source; C: those of the parts (by default A); K: chunkSize's type. */
export interface DigestOptions<A extends DigestAlgorithm = DigestAlgorithm, C extends DigestAlgorithm = A,
                               K extends number | undefined = number | undefined> {
  algorithms: readonly A[];
  /** A base64 SM2 certificate: the whole source's sm3 is then SM3 of the signer's Z value and the data. */
  sm3Cert?: string;
  /** Digests of each part of this many bytes too (at least 1024). */
  chunkSize?: K;
  /** The algorithms of the parts (default: algorithms). */
  chunkAlgorithms?: readonly C[];
  /** Called once per part, in order, as soon as it is done. */
  onChunk?: (chunk: DigestChunk<C>) => void;
  /** 'hex' (lower case, the default) or 'base64'. */
  encoding?: 'hex' | 'base64';
  /** Called as the work goes on (each part's end, or every 8 MiB) with a record to keep. */
  checkpoint?: (state: Uint8Array) => void;
  /**
   * A record checkpoint gave: the job goes on from there (refused when it is not this source's and
   * these options': bytes and streams are checked whole before the offset, a File, Blob or path by
   * its identity and sampled windows).
   */
  resume?: Uint8Array | ArrayBuffer;
  /**
   * Bytes read, and in all: `total` is undefined for a stream, whose length is not known. The
   * methods' handler (`(done: number, total: number) => void`, CallOptions) fits here too.
   */
  onProgress?(done: number, total: number | undefined): void;
  signal?: AbortSignal;
}

export interface DigestResult<A extends DigestAlgorithm = DigestAlgorithm, C extends DigestAlgorithm = A,
                              K extends number | undefined = number | undefined> {
  /** Bytes read, exact (never cut to 32 bits). */
  size: number;
  digests: Digests<A>;
  /** Each part's digests, when chunkSize was given. */
  chunks: K extends number ? DigestChunk<C>[] : undefined;
  /**
   * The S3 multipart ETag (MD5 of the parts' MD5s, then -N; of an empty source its plain MD5),
   * given when chunkSize was given and md5 is a part algorithm.
   */
  s3Etag: K extends number ? (DigestAlgorithm extends C ? string | undefined : 'md5' extends C ? string : undefined) : undefined;
}

/** A failure of digest(): a text and a code a program can test. */
export interface DigestError extends Error {
  readonly name: 'TarnwickError';
  readonly method: 'digest';
  readonly code: 'not-found' | 'not-a-disk-file' | 'path-empty' | 'open-failed' | 'read-failed' | 'certificate-refused'
    | 'checkpoint-damaged' | 'checkpoint-version' | 'checkpoint-mismatch' | 'failed' | 'unavailable';
  readonly engineStatus?: number;
  /** With 'read-failed': what the source threw when it was read (a stream's own error, a file's DOMException). */
  readonly cause?: unknown;
}

/** Bytes, or text: hex or base64 (and PEM where a key or certificate may be PEM). */
export type Sm2Value = ArrayBufferView | ArrayBuffer | string;

export interface VerifySm2Options {
  /** DER (one canonical SEQUENCE of two INTEGERs, nothing after it) or 64 bytes r || s. */
  signature: Sm2Value;
  /** The signer's SM2 certificate: base64, PEM or DER. Give this or publicKey. */
  certificate?: Sm2Value;
  /** The signer's SM2 key: SubjectPublicKeyInfo (PEM or DER) or the point 04 || x || y (65 bytes). */
  publicKey?: Sm2Value;
  /** The signer's id (default "1234567812345678"), as UTF-8. */
  userId?: string;
  /**
   * The digest already made (SM3 of Z and the data: GetLocalFileSM3(path, 1, cert), or digest()'s
   * sm3 with sm3Cert), 32 bytes; the source is then null.
   */
  digest?: Sm2Value;
  /** The certificate that issued the signer's: the result then says whether it is trusted. */
  issuer?: Sm2Value;
  /** The time both certificates must be valid at (default: now). Needs issuer. */
  at?: Date;
  onProgress?: (done: number, total: number | undefined) => void;
  signal?: AbortSignal;
}

export interface VerifySm2Result {
  /** Whether the signature holds for the source and the key. */
  valid: boolean;
  /** The signer's certificate, when one was given. */
  signer?: { subject: string; serial: string; notBefore: Date; notAfter: Date };
  /** With issuer: the issuer signed the signer's certificate and both are valid at the time. */
  trusted?: boolean;
  /** With trusted false: why. */
  why?: string;
}

/** A failure of verifySm2(): digest()'s codes for the source, and its own for what it was given. */
export interface VerifySm2Error extends Error {
  readonly name: 'TarnwickError';
  readonly method: 'verifySm2';
  readonly code: 'bad-signature' | 'bad-key' | 'bad-certificate' | 'bad-issuer' | 'not-found' | 'not-a-disk-file' | 'path-empty'
    | 'open-failed' | 'read-failed' | 'failed' | 'unavailable';
  readonly cause?: unknown;
}

/** What the SDK object does beyond the control's methods. */
export interface UploadDigests {
  /**
   * Every digest an upload asks for, whole and per part, from one read. Rejects with a
   * DigestError, a TypeError or RangeError for bad options, or an AbortError; never touches
   * the text GetLastErrorInfo gives.
   */
  digest<A extends DigestAlgorithm, C extends DigestAlgorithm = A, K extends number | undefined = undefined>(
    source: DigestSource, options: DigestOptions<A, C, K>): Promise<DigestResult<A, C, K>>;
  /**
   * Whether an SM2 signature holds over the whole source (read once), or over a digest already
   * made (options.digest, source null). Rejects with a VerifySm2Error (a malformed signature, a key
   * that is not SM2, an unreadable certificate or source: never valid), a TypeError or RangeError
   * for bad options, or an AbortError.
   */
  verifySm2(source: DigestSource | null, options: VerifySm2Options): Promise<VerifySm2Result>;
}

// ---- reading archives: openZip ----

/** Where an archive is read from: a File or Blob (read by slices), bytes, a URL whose server answers
 * range requests (only the directory and the asked entries are fetched), or in Node a path. */
export type ZipSource = Blob | ArrayBufferView | ArrayBuffer | URL | { url: string | URL } | string;

export interface OpenZipOptions {
  /** One encoding for every entry's name and comment (any TextDecoder label, or 'cp437'); by default
   * decided per entry (the UTF-8 flag, the Unicode Path field, ASCII, UTF-8, else code page 936). */
  names?: string;
  signal?: AbortSignal;
}

/** Why an entry may not be extracted. */
export type UnsafeReason = 'absolute' | 'drive' | 'parent' | 'device-name' | 'bad-character' | 'trailing-dot-or-space'
  | 'empty-part' | 'too-long' | 'clash' | 'symlink';

export interface ZipEntry {
  readonly name: string;
  readonly rawName: Uint8Array;
  readonly nameEncoding: 'utf-8' | 'unicode-path' | 'ascii' | 'utf-8-guessed' | 'gb18030' | (string & {});
  readonly directory: boolean;
  readonly size: number;
  readonly compressedSize: number;
  readonly crc32: number;
  readonly method: number;
  readonly modified: Date;
  readonly encrypted: boolean;
  readonly comment: string;
  readonly unsafe: UnsafeReason | null;
  readonly symlink: boolean;
}

export interface ZipTestResult {
  ok: boolean;
  entries: { name: string; ok: boolean; code: string | null; message: string | null }[];
}

export interface ZipArchive extends AsyncIterable<ZipEntry> {
  readonly comment: string;
  readonly entries: readonly ZipEntry[];
  /** The entry's bytes; the CRC-32 and the size are checked at the end (a TarnwickError 'bad-crc' or 'bad-size'). */
  stream(entry: ZipEntry, options?: { signal?: AbortSignal }): ReadableStream<Uint8Array>;
  blob(entry: ZipEntry, options?: { signal?: AbortSignal }): Promise<Blob>;
  bytes(entry: ZipEntry, options?: { signal?: AbortSignal }): Promise<Uint8Array>;
  /** Every entry read and checked, as `unzip -t` does. */
  test(options?: { onEntry?: (result: ZipTestResult['entries'][number]) => void; onProgress?: (done: number, total: number) => void; signal?: AbortSignal }): Promise<ZipTestResult>;
  /** Into a folder (a FileSystemDirectoryHandle, or a path in Node): nothing overwritten, nothing left on failure. */
  extract(target: FileSystemDirectoryHandle | string, options?: { signal?: AbortSignal; onEntry?: (name: string, index: number) => void; onProgress?: (done: number, total: number) => void }): Promise<{ files: number; folders: number; bytes: number }>;
  close(): void;
}

export interface TarnwickObject extends UploadDigests {
  /** 1: size in bytes (low 32 bits, signed), or -1. */
  GetLocalFileSize(file: LocalFile, options?: CallOptions): Promise<number>;
  /** 2: "STRING", "MSEXCEL", the first 15 bytes as hex, or "". */
  GetLocalFileHeadSigned(file: LocalFile, options?: CallOptions): Promise<string>;
  /** 3: a one-entry zip archive of the file, or "" (40 bytes or less, or a failure). */
  CreateZipFromLocalFile(file: LocalFile, options?: CallOptions): Promise<Archive | ''>;
  /** 4: 0 released, 1 released before, -1 not made by this object. */
  DeleteFileFromCreateZip(archive: Archive | string, options?: CallOptions): Promise<0 | 1 | -1>;
  /** 5: 64 upper-case hex digits, or "". */
  GetLocalFileSHA256(file: LocalFile, options?: CallOptions): Promise<string>;
  /** 6: 64 upper-case hex digits, or "" (nWithZValue != 0: SM3 of Z || data, Z from the certificate). */
  GetLocalFileSM3(file: LocalFile, nWithZValue: number, strBase64Cert: string, options?: CallOptions): Promise<string>;
  /** 7: the text of the last failure of a call by the control's names (not cleared by reading). */
  GetLastErrorInfo(): Promise<string>;
  /** 8: as 2, for a memory file probed under the given file type. */
  GetMemFileHeadSigned(array: MemoryFile, fileType: string, options?: CallOptions): Promise<string>;
  /** 9: as 6, for a memory file. */
  GetMemFileSM3(array: MemoryFile, nWithZValue: number, strBase64Cert: string, options?: CallOptions): Promise<string>;
  /** 10: the memory file's length, or -1. */
  GetMemFileSize(array: MemoryFile, options?: CallOptions): Promise<number>;
  /** 11: as 2, for a file given as base64 text. */
  GetMemMD5FileHeadSigned(base64: string, fileType: string, options?: CallOptions): Promise<string>;
  /** 12: as 5, for a memory file. */
  GetMemFileSHA256(array: MemoryFile, options?: CallOptions): Promise<string>;
  /** 13: as 3, for a memory file stored under fileName. */
  CreateZipFromMemFile(array: MemoryFile, fileName: string, options?: CallOptions): Promise<Archive | ''>;
  /**
   * The same methods for code that runs calls at once: each leaves the shared text (and
   * lastEngineStatus) alone and rejects a failure with a TarnwickError carrying its own text.
   * An empty memory file, which the control answers with "" and no text, still resolves "".
   */
  readonly checked: CheckedMethods;
  /** The crypto engine's status for the certificate of the last SM3 call by the control's names (0 = accepted). */
  readonly lastEngineStatus?: number;
  /**
   * An archive of many files and folders as a zip File. Every name is checked first (an absolute
   * name, a drive, a ".." part, a device name, an alternate stream, an empty name, two entries with
   * one name as Windows sees them are refused with a TarnwickError naming the entry); Zip64 where
   * a size, an offset or the count needs it. In a browser large entries are kept in Blobs (which
   * the browser keeps on disk); in Node the File is in memory: stream big archives with zipStream.
   */
  zip(entries: Iterable<ArchiveEntry> | AsyncIterable<ArchiveEntry> | FileList, options?: ZipOptions): Promise<File>;
  /** The same archive as a stream, its bytes given as they are made, in bounded memory. */
  zipStream(entries: Iterable<ArchiveEntry> | AsyncIterable<ArchiveEntry> | FileList, options?: ZipOptions): ReadableStream<Uint8Array>;
  /** An archive to list, read, test and extract; its listing reads the central directory only.
   * Failures: a TarnwickError whose code is 'not-zip', 'bad-archive', 'overlap', 'read-failed' or 'not-found'. */
  openZip(source: ZipSource, options?: OpenZipOptions): Promise<ZipArchive>;
  /** The language of the object's texts, as open() was given it ('zh' by default). */
  readonly language: Language;
  /** Ends the worker, rejects the calls still running with an AbortError, and lets this object's archives go. */
  close(): void;
}

export interface CheckedMethods {
  GetLocalFileSize(file: LocalFile, options?: CallOptions): Promise<number>;
  GetLocalFileHeadSigned(file: LocalFile, options?: CallOptions): Promise<string>;
  CreateZipFromLocalFile(file: LocalFile, options?: CallOptions): Promise<Archive>;
  DeleteFileFromCreateZip(archive: Archive | string, options?: CallOptions): Promise<0>;
  GetLocalFileSHA256(file: LocalFile, options?: CallOptions): Promise<string>;
  GetLocalFileSM3(file: LocalFile, nWithZValue: number, strBase64Cert: string, options?: CallOptions): Promise<string>;
  GetMemFileHeadSigned(array: MemoryFile, fileType: string, options?: CallOptions): Promise<string>;
  GetMemFileSM3(array: MemoryFile, nWithZValue: number, strBase64Cert: string, options?: CallOptions): Promise<string>;
  GetMemFileSize(array: MemoryFile, options?: CallOptions): Promise<number>;
  GetMemMD5FileHeadSigned(base64: string, fileType: string, options?: CallOptions): Promise<string>;
  GetMemFileSHA256(array: MemoryFile, options?: CallOptions): Promise<string>;
  CreateZipFromMemFile(array: MemoryFile, fileName: string, options?: CallOptions): Promise<Archive | ''>;
}

export declare const Tarnwick: {
  open(options?: OpenOptions): Promise<TarnwickObject>;
};

export default Tarnwick;
