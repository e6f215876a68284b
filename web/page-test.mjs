// The page in headless Chromium, served as the README serves it (python3 -m http.server): it shows
// the sample's three pictures, its blurred bytes are the tool's, and a refused file shows the
// tool's reason. The screenshot goes to build/page.png. Run from the checkout after
// tools/build-wasm and npm ci in js/: node web/page-test.mjs [BMPBLUR [BAD-FILE]].
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { resolve as resolvePath } from 'node:path';
import { fileURLToPath } from 'node:url';

const WebSocket = createRequire(new URL('../js/package.json', import.meta.url))('ws');
const checkout = fileURLToPath(new URL('../', import.meta.url));
const tool = process.argv[2] ?? `${checkout}build/release/cli/bmpblur`;
const sample = `${checkout}samples/landscape.bmp`;
const scratch = mkdtempSync(`${tmpdir()}/dorvane-page-`);
// Chromium takes a file for the input only by a path without "..".
const bad = resolvePath(process.argv[3] ?? `${scratch}/notes.bmp`);
if (process.argv[3] === undefined) {
  writeFileSync(bad, 'not a picture\n');
}

// The first match of pattern in a child's output, once it shows.
function awaitLine(stream, pattern) {
  return new Promise((resolve, reject) => {
    let seen = '';
    stream.on('data', (chunk) => {
      seen += chunk;
      const match = seen.match(pattern);
      if (match) {
        resolve(match);
      }
    });
    stream.on('end', () => reject(new Error(`no line matching ${pattern} in:\n${seen}`)));
  });
}

const children = [];
function start(program, args) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  children.push(child);
  return child;
}

let failed = false;
try {
  const server = start('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
                                   '--directory', `${checkout}web`]);
  const [, port] = await awaitLine(server.stdout, /port (\d+)/);
  const browser = start('chromium', ['--headless', '--no-sandbox', '--disable-gpu',
                                     '--remote-debugging-port=0', `--user-data-dir=${scratch}/profile`,
                                     'about:blank']);
  const [, endpoint] = await awaitLine(browser.stderr, /DevTools listening on (ws:\S+)/);

  // The DevTools protocol: one command at a time, to the page's session once attached.
  const socket = new WebSocket(endpoint);
  await new Promise((resolve) => socket.once('open', resolve));
  let next = 0;
  const pending = new Map();
  socket.on('message', (data) => {
    const message = JSON.parse(data);
    if (pending.has(message.id)) {
      const { resolve, reject } = pending.get(message.id);
      pending.delete(message.id);
      message.error ? reject(new Error(JSON.stringify(message.error))) : resolve(message.result);
    }
  });
  let sessionId;
  const send = (method, params = {}) => new Promise((resolve, reject) => {
    const id = ++next;
    pending.set(id, { resolve, reject });
    socket.send(JSON.stringify({ id, method, params, sessionId }));
  });
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  ({ sessionId } = await send('Target.attachToTarget', { targetId, flatten: true }));
  const evaluate = async (expression) =>
    (await send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true }))
      .result.value;
  const awaitState = async (state) => {
    for (let tries = 0; tries < 1200; ++tries) {
      if (await evaluate('window.dorvanePage?.state') === state) {
        return;
      }
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    throw new Error(`the page never reached "${state}": ${JSON.stringify(await evaluate(
      "[window.dorvanePage?.state, window.dorvanePage?.name, document.body.innerText]"))}`);
  };

  await send('Emulation.setDeviceMetricsOverride',
             { width: 1280, height: 620, deviceScaleFactor: 1, mobile: false });
  await send('Page.navigate', { url: `http://127.0.0.1:${port}/index.html` });
  await awaitState('shown');

  const sizes = await evaluate(`[...document.querySelectorAll('canvas')]
                                  .map((canvas) => canvas.width + 'x' + canvas.height)`);
  assert.deepEqual(sizes, ['384x256', '384x256', '384x256'], 'the three pictures of the sample');
  const blurred = Buffer.from(await evaluate(`(() => {
    let text = '';
    for (const byte of window.dorvanePage.blurred) text += String.fromCharCode(byte);
    return btoa(text);
  })()`), 'base64');
  const toolBlur = spawnSync(tool, [sample, '-'], { maxBuffer: 1 << 26 });
  assert.equal(toolBlur.status, 0, toolBlur.stderr.toString());
  assert.ok(blurred.equals(toolBlur.stdout), "the page's blurred bytes are the tool's");

  mkdirSync(`${checkout}build`, { recursive: true });
  const { data } = await send('Page.captureScreenshot', { format: 'png' });
  writeFileSync(`${checkout}build/page.png`, Buffer.from(data, 'base64'));

  const { root } = await send('DOM.getDocument');
  const { nodeId } = await send('DOM.querySelector', { nodeId: root.nodeId, selector: '#file' });
  await send('DOM.setFileInputFiles', { nodeId, files: [bad] });
  await awaitState('refused');
  const toolReason = spawnSync(tool, [bad, '-']).stderr.toString()
    .replace(`bmpblur: ${bad}: `, '').trim();
  const name = bad.split('/').pop();
  assert.equal(await evaluate(`document.getElementById('reason').textContent`),
               `${name}: ${toolReason}`, "a refused file shows the tool's reason");
  socket.close();
  console.log(`page test: the sample's pictures and bytes, and the reason "${toolReason}" for ` +
              `${name}; screenshot in build/page.png`);
} catch (error) {
  failed = true;
  console.error(error);
} finally {
  await Promise.all(children.map((child) => new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) {
      resolve();
    }
    child.once('exit', resolve);
    child.kill();
  })));
  rmSync(scratch, { recursive: true, force: true });
}
process.exitCode = failed ? 1 : 0;
