// The package held to the native tool: on the sample and every file of the public BMP suite, each
// call gives the bytes, the warning or the reason that bmpblur gives for the same file; both builds,
// the SIMD one that this engine loads and the plain one of engines without SIMD.
// DORVANE_BMPBLUR names the tool (default: build/release/cli/bmpblur of the checkout),
// DORVANE_BMPSUITE the suite (default: ../shared/bmpsuite beside the checkout).
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import * as simd from '../dorvane.js';

// The same module in an engine that refuses SIMD: it loads the plain build.
const validate = WebAssembly.validate;
WebAssembly.validate = () => false;
const plain = await import('../dorvane.js?plain');
WebAssembly.validate = validate;

const checkout = new URL('../../', import.meta.url);
const tool = process.env.DORVANE_BMPBLUR ??
             fileURLToPath(new URL('build/release/cli/bmpblur', checkout));
const suite = process.env.DORVANE_BMPSUITE ??
              fileURLToPath(new URL('../shared/bmpsuite', checkout));
const sample = fileURLToPath(new URL('samples/landscape.bmp', checkout));

const files = [sample];
for (const folder of ['g', 'q', 'b', 'x']) {
  const where = `${suite}/${folder}`;
  if (existsSync(where)) {
    files.push(...readdirSync(where).filter((name) => name.endsWith('.bmp')).sort()
                  .map((name) => `${where}/${name}`));
  }
}

// What the tool gives for path: its output's bytes and its warning, or its reason, each without
// the tool's and the file's names.
function runTool(path, command, ...operands) {
  const run = spawnSync(tool, [command, path, '-', ...operands], { maxBuffer: 1 << 30 });
  assert.equal(run.error, undefined, `cannot run ${tool}: build the release preset or set ` +
                                     'DORVANE_BMPBLUR');
  const message = run.stderr.toString().replace(`bmpblur: ${path}: `, '').trimEnd();
  if (run.status !== 0) {
    return { reason: message };
  }
  return { bytes: run.stdout, warning: message.replace(/^warning: /, '') };
}

// What a call of the package gives for the file's bytes, in the same terms.
function runPackage(dorvane, call, bytes) {
  const warnings = [];
  try {
    return { bytes: call(bytes, { onWarning: (text) => warnings.push(text) }),
             warning: warnings.join('\n') };
  } catch (error) {
    if (!(error instanceof dorvane.FormatError)) {
      throw error;
    }
    return { reason: error.message };
  }
}

// The tool's `info` fields of a file, as numbers under their names.
function toolHeader(path) {
  const run = spawnSync(tool, ['info', path]);
  if (run.status !== 0) {
    return { reason: run.stderr.toString().replace(`bmpblur: ${path}: `, '').trimEnd() };
  }
  const fields = {};
  for (const [, name, value] of run.stdout.toString().matchAll(/^ +(\w+): (-?\d+)/gm)) {
    fields[name] = Number(value);
  }
  return { fields };
}

for (const [build, dorvane] of [['simd128', simd], ['plain', plain]]) {
  test(`the build in use is ${build}`, () => {
    assert.equal(dorvane.vectors, build);
  });

  test(`${build}: header gives the fields that bmpblur info shows, or its reason`, () => {
    for (const path of files) {
      const expected = toolHeader(path);
      const bytes = readFileSync(path);
      if (expected.reason !== undefined) {
        assert.throws(() => dorvane.header(bytes), { name: 'FormatError', message: expected.reason },
                      path);
      } else {
        assert.deepEqual(dorvane.header(bytes), expected.fields, path);
      }
    }
  });

  // The jobs, each with the tool's command that writes the same file.
  const jobs = (dorvane) => [
    { command: ['blur'], call: dorvane.blur },
    { command: ['edges'], call: dorvane.edges },
    { command: ['scale', 'P', '50'], call: (bytes, options) => dorvane.scale(bytes, 'P', 50, options) },
    { command: ['scale', 'F', '100'],
      call: (bytes, options) => dorvane.scale(bytes, 'F', 100, options) },
  ];

  for (const { command, call } of jobs(dorvane)) {
    test(`${build}: ${command.join(' ')} writes the tool's bytes, warning and reason`, () => {
      for (const path of files) {
        const expected = runTool(path, ...command);
        const got = runPackage(dorvane, call, readFileSync(path));
        assert.equal(got.reason, expected.reason, path);
        assert.equal(got.warning, expected.warning, path);
        assert.ok(got.bytes === undefined ? expected.bytes === undefined
                                          : Buffer.from(got.bytes).equals(expected.bytes), path);
      }
    });
  }

  test(`${build}: readBmp refuses what the tool refuses, with its reason, and warns as it warns`, () => {
    for (const path of files) {
      const expected = runTool(path, 'blur');
      const bytes = readFileSync(path);
      const got = runPackage(dorvane, (source, options) => dorvane.readBmp(source, options), bytes);
      assert.equal(got.reason, expected.reason, path);
      if (expected.reason === undefined) {
        assert.equal(got.warning, expected.warning, path);
        const { biWidth, biHeight } = dorvane.header(bytes);
        assert.equal(got.bytes.rgb.length, 3 * biWidth * Math.abs(biHeight), path);
      }
    }
  });

  // Every depth: a picture written and read back, once more, is written again to the same bytes
  // (16 bits read green back at 5 bits, as the reader does); 24 and 32 bits keep every pixel, and a
  // gray picture is written as its RGB twin.
  test(`${build}: writeBmp and readBmp round trip at every depth`, () => {
    const picture = dorvane.readBmp(readFileSync(sample));
    const gray = new Uint8Array(picture.width * picture.height);
    gray.forEach((_, i) => { gray[i] = picture.rgb[3 * i + 1]; });
    const grayRgb = new Uint8Array(3 * gray.length);
    gray.forEach((value, i) => grayRgb.fill(value, 3 * i, 3 * i + 3));
    for (const depth of [1, 4, 8, 16, 24, 32]) {
      const written = dorvane.writeBmp(picture, depth);
      assert.equal(dorvane.header(written).biBitCount, depth);
      const read = dorvane.readBmp(written);
      assert.deepEqual([read.width, read.height], [picture.width, picture.height]);
      const again = dorvane.writeBmp(read, depth);
      assert.deepEqual(dorvane.writeBmp(dorvane.readBmp(again), depth), again, `depth ${depth}`);
      if (depth >= 24) {
        assert.deepEqual(read.rgb, picture.rgb, `depth ${depth}`);
      }
      assert.deepEqual(dorvane.writeBmp({ width: picture.width, height: picture.height, gray }, depth),
                       dorvane.writeBmp({ width: picture.width, height: picture.height,
                                          rgb: grayRgb }, depth), `gray at depth ${depth}`);
    }
    assert.deepEqual(dorvane.writeBmp(picture), new Uint8Array(readFileSync(sample)));
  });

  test(`${build}: unusable arguments are refused before the library sees them`, () => {
    const bytes = readFileSync(sample);
    assert.throws(() => dorvane.header('landscape.bmp'), TypeError);
    // A scaling too large is the tool's unusable argument, in its words.
    const tooLarge = spawnSync(tool, ['scale', sample, '-', 'P', '10000000']);
    assert.equal(tooLarge.status, 3);
    assert.throws(() => dorvane.scale(bytes, 'P', 10000000), {
      name: 'RangeError',
      message: tooLarge.stderr.toString().replace('bmpblur: 10000000: ', '').trim(),
    });
    assert.throws(() => dorvane.scale(bytes, 'Q', 50), RangeError);
    assert.throws(() => dorvane.scale(bytes, 'P', 0), RangeError);
    assert.throws(() => dorvane.writeBmp({ width: 2, height: 2, rgb: new Uint8Array(11) }),
                  RangeError);
    assert.throws(() => dorvane.writeBmp({ width: 2, height: 2, rgb: new Uint8Array(12) }, 2),
                  RangeError);
    assert.throws(() => dorvane.writeBmp({ width: 1 << 25, height: 1, gray: new Uint8Array(1 << 25) }),
                  RangeError);
    assert.equal(dorvane.header(bytes.buffer.slice(bytes.byteOffset,
                                                   bytes.byteOffset + bytes.length)).biWidth, 384);
  });
}
