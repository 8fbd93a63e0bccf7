// The browser suites' collector: a small server the pages POST what they found to (the
// pages run under WebDriver, which cannot wait minutes for one call).
import { createServer } from 'node:http';

// What the page reports, by name (bytes POSTed with ?bytes=NAME as they are); waits for `names`
// (or an error) within `seconds`.
export function collector() {
  const got = {};
  let wake = null;
  const server = createServer((request, response) => {
    const body = [];
    request.on('data', (d) => body.push(d));
    request.on('end', () => {
      try {
        const bytes = new URL(request.url, 'http://collector').searchParams.get('bytes');
        const { what, value } = bytes ? { what: bytes, value: Buffer.concat(body) } : JSON.parse(Buffer.concat(body).toString());
        (got[what] = got[what] || []).push(value);
        if (process.env.TARNWICK_OTHERS_VERBOSE) console.log('page:', what, bytes ? `${value.length} bytes` : JSON.stringify(value).slice(0, 120));
      } catch { /* not ours */ }
      response.writeHead(204, { 'Access-Control-Allow-Origin': '*' }).end();
      if (wake) wake();
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}/`,
    async wait(names, seconds) {
      const until = Date.now() + seconds * 1000;
      while (!names.every((n) => got[n]) && !got.error && Date.now() < until) {
        await new Promise((r) => { wake = r; setTimeout(r, 500); });
      }
      return got;
    },
    close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }),
  })));
}
