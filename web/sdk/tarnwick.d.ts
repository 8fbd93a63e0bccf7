// Types of the page SDK (tarnwick.js). The methods carry the control's names and give its
// results; failures give the control's empty result (or -1 / 1) and leave the control's text for
// GetLastErrorInfo.

/** What stands where the control takes a path: a picked file, any Blob, or bytes. */
export type LocalFile = File | Blob | Uint8Array | ArrayBufferView | ArrayBuffer | ArrayLike<number> | string;

/**
 * What stands where the control takes a script array: bytes, or an array (or array-like) of
 * values read as the control reads them (value & 255; true is 1; numeric text counts as its
 * number; anything else is refused with the element's text).
 */
export type MemoryFile = Uint8Array | ArrayBufferView | ArrayBuffer | ArrayLike<unknown> | null | undefined;

export interface CallOptions {
  /** Called as the work goes on: bytes done, bytes in all. */
  onProgress?: (done: number, total: number) => void;
  /** Cancels the call: it rejects with an AbortError and leaves the last-error text as it was. */
  signal?: AbortSignal;
}

/** An archive made by this object: a zip File named like the control's temporary archives. */
export type Archive = File;

export interface OpenOptions {
  /** Where tarnwick.wasm is (default: beside tarnwick.js). */
  wasmUrl?: string | URL;
  /** Where tarnwick-worker.js is (default: beside tarnwick.js). */
  workerUrl?: string | URL;
  /** false runs the work on the calling thread instead of a worker (Node always does). */
  worker?: boolean;
  /** Shown where the control shows a message box (archives of 40 bytes or less). */
  messageBox?: (text: string) => void;
}

export interface TarnwickObject {
  /** 1: size in bytes (low 32 bits, signed), or -1. */
  GetLocalFileSize(file: LocalFile): Promise<number>;
  /** 2: "STRING", "MSEXCEL", the first 15 bytes as hex, or "". */
  GetLocalFileHeadSigned(file: LocalFile, options?: CallOptions): Promise<string>;
  /** 3: a one-entry zip archive of the file, or "" (40 bytes or less, or a failure). */
  CreateZipFromLocalFile(file: LocalFile, options?: CallOptions): Promise<Archive | ''>;
  /** 4: 0 released, 1 released before, -1 not made by this object. */
  DeleteFileFromCreateZip(archive: Archive | string): Promise<0 | 1 | -1>;
  /** 5: 64 upper-case hex digits, or "". */
  GetLocalFileSHA256(file: LocalFile, options?: CallOptions): Promise<string>;
  /** 6: 64 upper-case hex digits, or "" (nWithZValue != 0: SM3 of Z || data, Z from the certificate). */
  GetLocalFileSM3(file: LocalFile, nWithZValue: number, strBase64Cert: string, options?: CallOptions): Promise<string>;
  /** 7: the text of the last failure (not cleared by reading). */
  GetLastErrorInfo(): Promise<string>;
  /** 8: as 2, for a memory file probed under the given file type. */
  GetMemFileHeadSigned(array: MemoryFile, fileType: string, options?: CallOptions): Promise<string>;
  /** 9: as 6, for a memory file. */
  GetMemFileSM3(array: MemoryFile, nWithZValue: number, strBase64Cert: string, options?: CallOptions): Promise<string>;
  /** 10: the memory file's length, or -1. */
  GetMemFileSize(array: MemoryFile): Promise<number>;
  /** 11: as 2, for a file given as base64 text. */
  GetMemMD5FileHeadSigned(base64: string, fileType: string, options?: CallOptions): Promise<string>;
  /** 12: as 5, for a memory file. */
  GetMemFileSHA256(array: MemoryFile, options?: CallOptions): Promise<string>;
  /** 13: as 3, for a memory file stored under fileName. */
  CreateZipFromMemFile(array: MemoryFile, fileName: string, options?: CallOptions): Promise<Archive | ''>;
  /** The crypto engine's status for the certificate of the last SM3 call (0 = accepted). */
  readonly lastEngineStatus?: number;
  /** Ends the worker and lets this object's archives go. */
  close(): void;
}

export declare const Tarnwick: {
  open(options?: OpenOptions): Promise<TarnwickObject>;
};

export default Tarnwick;
