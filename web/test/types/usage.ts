// The documented uses of the SDK's types compile under --strict; each misuse below must be refused
// (an unused @ts-expect-error fails the compile).
import Tarnwick, { TarnwickError, type Archive, type CallOptions, type DigestError, type MethodName, type VerifySm2Error } from '../../sdk/tarnwick.js';

export async function documented(file: File, bytes: Uint8Array, cert: string, signal: AbortSignal): Promise<void> {
  const t = await Tarnwick.open({ messageBox: (text) => console.log(text), worker: false, wasmUrl: new URL('x', 'http://h/'), language: 'en' });
  const language: 'zh' | 'en' = t.language;
  void language;
  const options: CallOptions = { onProgress: (done, total) => console.log(done / total), signal };
  const hex: string = await t.GetLocalFileSHA256(file, options);
  const size: number = await t.GetLocalFileSize(file, { signal });
  await t.GetLocalFileSM3(file, 1, cert, options);
  await t.GetMemFileSM3([1, 2, '3', true], 0, '');
  await t.GetMemFileSHA256(new Uint16Array(4).buffer);
  await t.GetMemMD5FileHeadSigned('QUJD', 'bin', options);
  const zip = await t.CreateZipFromLocalFile(file);
  if (zip !== '') {
    const name: string = zip.name;
    const gone: 0 | 1 | -1 = await t.DeleteFileFromCreateZip(zip);
    console.log(name, gone, await t.DeleteFileFromCreateZip(name));
  }
  const text: string = await t.GetLastErrorInfo();
  try {
    const archive: Archive = await t.checked.CreateZipFromLocalFile('/srv/data.bin');
    const zero: 0 = await t.checked.DeleteFileFromCreateZip(archive);
    console.log(zero);
  } catch (e) {
    if (e instanceof TarnwickError) console.log(e.message, e.method, e.result, e.engineStatus, e.zipStatus);
  }
  console.log(hex, size, text, t.lastEngineStatus);
  const kept: Uint8Array[] = [];
  const job = await t.digest(file, {
    algorithms: ['md5', 'crc64nvme'], chunkSize: 5 << 20, encoding: 'base64', signal,
    onChunk: ({ index, digests }) => console.log(index, digests.md5), checkpoint: (state) => kept.push(state),
  });
  console.log(job.size, job.digests.md5, job.chunks?.length, job.s3Etag, (await t.digest(bytes, { algorithms: ['sm3'], resume: kept[0] })).digests.sm3);
  await t.digest(file.stream(), { algorithms: ['md5'] }).catch((e: DigestError) => console.log(e.code === 'read-failed' && e.cause));
  const checked = await t.verifySm2(file, { signature: bytes, certificate: 'MIIB...', userId: 'ALICE123@YAHOO.COM', onProgress: (done, total) => console.log(done, total), signal });
  if (checked.valid && checked.signer) console.log(checked.signer.subject, checked.signer.notAfter.getTime(), checked.trusted, checked.why);
  await t.verifySm2(null, { digest: hex, signature: '3045...', publicKey: bytes, issuer: bytes, at: new Date() })
    .catch((e: VerifySm2Error) => console.log(e.code === 'bad-signature' || e.code === 'bad-key'));
  const folder: File = await t.zip([file, { name: 'notes/a.txt', source: bytes }, { name: 'empty/' }], {
    names: 'utf8', level: 9, onEntry: (entry: string, index: number) => console.log(entry, index), signal,
  });
  await t.zip([file], { names: 'control', fixNames: true, onRename: (from: string, to: string) => console.log(from, to) });
  await t.zipStream(new Set([file]), { onProgress: options.onProgress }).pipeTo(new WritableStream<Uint8Array>());
  console.log(folder.name);
  t.close();
}

// The README's digest sample, as a page in TypeScript writes it.
declare function uploadPart(index: number, md5: string): void;
declare function keep(file: File, state: Uint8Array): void;
export async function readmeDigest(file: File, kept: Uint8Array | undefined, signal: AbortSignal): Promise<string> {
  // MIGRATING's progress handler serves the methods and digest() alike.
  const onProgress = (done: number, total: number) => { console.log(done / total); };
  await (await Tarnwick.open()).GetLocalFileSHA256(file, { onProgress });
  const t = await Tarnwick.open();
  const job = await t.digest(file, {
    algorithms: ['md5', 'sha256', 'crc64nvme'],
    chunkSize: 5 << 20,
    onChunk: ({ index, offset, length, digests }) => uploadPart(index, digests.md5 + offset + length),
    checkpoint: (state) => keep(file, state),
    resume: kept,
    encoding: 'base64',
    onProgress, signal,
  });
  const md5: string = job.digests.md5, sha256: string = job.digests.sha256, etag: string = job.s3Etag;
  const parts: number = job.chunks.length;
  // Parts of their own algorithms: the whole's and the parts' digests typed apart.
  const crcs = await t.digest(file, { algorithms: ['sha256'], chunkSize: 1 << 20, chunkAlgorithms: ['crc32c'] });
  const first: string = crcs.chunks[0].digests.crc32c;
  // Algorithms not known until run time: each digest may be absent.
  const asked: ('md5' | 'sha1' | 'sha256' | 'sm3' | 'crc32' | 'crc32c' | 'crc64ecma' | 'crc64nvme')[] = ['sm3'];
  const any = await t.digest(file, { algorithms: asked });
  const maybe: string | undefined = any.digests.sm3;
  const method: MethodName = 'digest';
  try {
    await t.zip([file]);
  } catch (e) {
    if (e instanceof TarnwickError && e.result !== undefined) console.log(e.result === -1);
  }
  return [md5, sha256, etag, parts, first, maybe, method].join();
}

export async function misuse(file: File): Promise<void> {
  const t = await Tarnwick.open();
  // @ts-expect-error the SDK speaks 'zh' and 'en' only
  await Tarnwick.open({ language: 'fr' });
  // @ts-expect-error SM3 takes the Z flag and the certificate before the options
  await t.GetLocalFileSM3(file, { signal: new AbortController().signal });
  // @ts-expect-error the options are an object, not a callback
  await t.GetLocalFileSHA256(file, (done: number) => done);
  // @ts-expect-error a progress callback gets numbers
  await t.GetLocalFileSHA256(file, { onProgress: (done: string) => done });
  // @ts-expect-error an archive may be "": narrow it before use
  (await t.CreateZipFromMemFile(new Uint8Array(64), 'a.bin')).name;
  // @ts-expect-error archives are deleted by File or name, not by number
  await t.DeleteFileFromCreateZip(3);
  // @ts-expect-error a memory file is bytes or an array of values, not an object
  await t.GetMemFileSHA256({ data: 1 });
  // @ts-expect-error the shared text has no checked form
  await t.checked.GetLastErrorInfo();
  // @ts-expect-error lastEngineStatus is read-only
  t.lastEngineStatus = 0;
  // @ts-expect-error no such option
  await Tarnwick.open({ workerURL: 'w.js' });
  // @ts-expect-error algorithms are named in lower case
  await t.digest(file, { algorithms: ['MD5'] });
  // @ts-expect-error a signature is needed
  await t.verifySm2(file, { publicKey: bytes });
  // @ts-expect-error names are stored by the control's rule or as UTF-8, nothing else
  await t.zip([file], { names: 'gbk' });
  const job = await t.digest(file, { algorithms: ['md5'] });
  // @ts-expect-error only what was asked for is there
  console.log(job.digests.sha1.length);
  // @ts-expect-error no parts without chunkSize
  console.log(job.chunks.length, job.s3Etag);
  // @ts-expect-error no S3 ETag when md5 is not a part algorithm
  const etag: string = (await t.digest(file, { algorithms: ['md5'], chunkSize: 1 << 20, chunkAlgorithms: ['sha1'] })).s3Etag;
  try {
    await t.digest(file, { algorithms: ['md5'] });
  } catch (e) {
    // @ts-expect-error digest and zip failures carry no control failure value
    if (e instanceof TarnwickError) { const value: '' | -1 | 1 = e.result; console.log(value, etag); }
  }
  // @ts-expect-error digest's progress gets numbers too
  await t.digest(file, { algorithms: ['md5'], onProgress: (done: string) => done });
  // @ts-expect-error fixNames is true or false
  await t.zip([file], { fixNames: 'yes' });
  const archive = await t.openZip(file, { names: 'gbk', signal: new AbortController().signal });
  for await (const entry of archive) {
    if (entry.unsafe === null && !entry.directory) console.log(entry.name, entry.modified.getTime(), (await archive.bytes(entry)).length);
  }
  const verdict = await archive.test({ onProgress: (done, total) => console.log(done / total) });
  if (!verdict.ok) console.log(verdict.entries.filter((r) => !r.ok).map((r) => r.code));
  archive.close();
  // @ts-expect-error entries are read-only
  archive.entries[0].name = 'x';
  // @ts-expect-error the encoding is a label
  await t.openZip(file, { names: 936 });
}
