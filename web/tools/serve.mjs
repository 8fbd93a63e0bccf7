// A static server for web/ on 127.0.0.1 (pages, the SDK, its module and worker; Chromium will
// not start a worker or fetch the module from file://).
//   node tools/serve.mjs [PORT]      prints the address, serves until stopped
// Also imported by the test and benchmark runners: serve(port) -> { url, close() }.
import { createServer } from 'node:http';
import { createReadStream, statSync } from 'node:fs';
import { extname, join, normalize, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const webRoot = fileURLToPath(new URL('..', import.meta.url));
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.wasm': 'application/wasm', '.css': 'text/css',
  '.json': 'application/json', '.png': 'image/png', '.txt': 'text/plain; charset=utf-8',
};

// `root` defaults to web/; the benchmarks serve the whole tree (bench/ beside web/).
export function serve(port = 0, root = webRoot) {
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    let file = normalize(join(root, path));
    if (!file.startsWith(root) || file.includes(sep + '.')) { response.writeHead(403).end(); return; }
    try {
      if (statSync(file).isDirectory()) file = join(file, 'index.html');
      const size = statSync(file).size;
      response.writeHead(200, { 'Content-Type': types[extname(file)] || 'application/octet-stream',
                                'Content-Length': size, 'Cache-Control': 'no-store' });
      createReadStream(file).pipe(response);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => {
    server.listen(port, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`,
      close: () => new Promise((done) => { server.closeAllConnections(); server.close(done); }),
    }));
  });
}

if (process.argv[1] && fileURLToPath(import.meta.url) === process.argv[1]) {
  const { url } = await serve(Number(process.argv[2] || 8736));
  console.log(`demo: ${url}demo/  (Ctrl-C stops the server)`);
}
