// DorvaneBMPBlur's BMP codec and exact blur, edge map and scaling in WebAssembly, for Node (18 and
// later) and browsers alike: the same module loads its .wasm from beside itself, with fs in Node
// and fetch in a browser, and needs nothing else at run time.

/** A file that the BMP format's rules, as the library reads them, reject; the message is the
 * library's reason, in the words of the tool bmpblur. */
export class FormatError extends Error {
  constructor(reason, options) {
    super(reason, options);
    this.name = 'FormatError';
  }
}

/** The module's memory ran out (WebAssembly's memory is at most 4 GiB). */
export class OutOfMemoryError extends Error {
  constructor(reason, options) {
    super(reason, options);
    this.name = 'OutOfMemoryError';
  }
}

// The outcomes of the C functions (wasm/exports.cpp).
const Done = 0;
const Refused = 1;
const NoMemory = 2;

// The smallest module that uses a 128-bit SIMD instruction: engines without SIMD refuse it.
const SimdProbe = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253,
  15, 253, 98, 11,
]);

/** Which build of the library runs: "simd128" (WebAssembly's 128-bit SIMD) or "plain". */
export const vectors = WebAssembly.validate(SimdProbe) ? 'simd128' : 'plain';

async function fetchBytes(url) {
  if (url.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) {
    throw new Error(`${url}: ${response.status} ${response.statusText}`);
  }
  return response.arrayBuffer();
}

const compiled = await WebAssembly.compile(
  await fetchBytes(new URL(vectors === 'simd128' ? 'dorvane.wasm' : 'dorvane-plain.wasm',
                           import.meta.url)));

// WASI as the library needs it on bytes in memory: no environment, no files; a call that would
// leave the module ends it.
function wasiImports(memory) {
  const ENOSYS = 52;
  const calls = {
    environ_sizes_get: (count, size) => {
      const view = new DataView(memory().buffer);
      view.setUint32(count, 0, true);
      view.setUint32(size, 0, true);
      return 0;
    },
    environ_get: () => 0,
    proc_exit: (status) => {
      throw new WebAssembly.RuntimeError(`exit ${status}`);
    },
  };
  const imports = {};
  for (const { module, name } of WebAssembly.Module.imports(compiled)) {
    imports[module] ??= {};
    imports[module][name] = calls[name] ?? (() => ENOSYS);
  }
  return imports;
}

function instantiate() {
  let exports;
  const instance = new WebAssembly.Instance(compiled, wasiImports(() => exports.memory));
  exports = instance.exports;
  exports._initialize();
  return exports;
}

let lib = instantiate();

function text(pointer) {
  const bytes = new Uint8Array(lib.memory.buffer, pointer);
  return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
}

function bytesOf(value, name) {
  if (value instanceof Uint8Array) {
    return value;
  }
  if (value instanceof ArrayBuffer) {
    return new Uint8Array(value);
  }
  if (ArrayBuffer.isView(value)) {
    return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  }
  throw new TypeError(`${name} must be a Uint8Array, an ArrayBuffer or a typed array`);
}

function memoryRanOut(options) {
  return new OutOfMemoryError(text(lib.dorvane_memory_reason()), options);
}

// Calls run(pointer, size) on a copy of bytes in the module's memory, then gives what the call
// left: its outcome, its bytes and its text. A trap (memory that ran out where the C++ library
// cannot say so) leaves the instance unusable: a fresh one takes its place.
function call(bytes, run) {
  let pointer = 0;
  try {
    pointer = lib.dorvane_alloc(Math.max(bytes.length, 1));
    if (pointer === 0) {
      throw memoryRanOut();
    }
    new Uint8Array(lib.memory.buffer, pointer, bytes.length).set(bytes);
    const outcome = run(pointer, bytes.length);
    const result = {
      outcome,
      bytes: new Uint8Array(lib.memory.buffer, lib.dorvane_result_bytes(),
                            lib.dorvane_result_size()).slice(),
      text: text(lib.dorvane_result_text()),
      width: lib.dorvane_result_width(),
      height: lib.dorvane_result_height(),
    };
    lib.dorvane_release();
    return result;
  } catch (error) {
    if (error instanceof WebAssembly.RuntimeError) {
      pointer = 0; // it belonged to the instance that is gone
      lib = instantiate();
      throw memoryRanOut({ cause: error });
    }
    throw error;
  } finally {
    if (pointer !== 0) {
      lib.dorvane_free(pointer);
    }
  }
}

// The result of a call, or the error that it ended in.
function check(result) {
  if (result.outcome === Refused) {
    throw new FormatError(result.text);
  }
  if (result.outcome === NoMemory) {
    throw new OutOfMemoryError(result.text);
  }
  if (result.outcome !== Done) {
    throw new RangeError(result.text || 'a BMP file holds 1 to 16777216 pixels a side and ' +
                                        '268435456 in all, at 1, 4, 8, 16, 24 or 32 bits per pixel');
  }
  return result;
}

// The result of a call that reads a file's pixels, after a warning for a source cut short.
function settle(result, options) {
  check(result);
  if (result.text !== '') {
    (options?.onWarning ?? ((message) => console.warn(`dorvane: warning: ${message}`)))(
      result.text);
  }
  return result;
}

function job(exportName) {
  return (source, options) =>
    settle(call(bytesOf(source, 'source'), (pointer, size) => lib[exportName](pointer, size)),
           options).bytes;
}

/** The file that `bmpblur SOURCE OUTPUT` writes for the BMP file of `source`. */
export const blur = job('dorvane_blur');

/** The file that `bmpblur edges SOURCE OUTPUT` writes for the BMP file of `source`. */
export const edges = job('dorvane_edges');

/** The file that `bmpblur scale SOURCE OUTPUT MODE VALUE` writes: mode "P" (percent), "W"
 * (width), "H" (height) or "F" (the longer side), value at least 1. */
export function scale(source, mode, value, options) {
  if (!['P', 'W', 'H', 'F'].includes(mode)) {
    throw new RangeError('mode must be "P", "W", "H" or "F"');
  }
  if (!Number.isInteger(value) || value < 1 || value > 0x7fffffff) {
    throw new RangeError('value must be a whole number from 1 to 2147483647');
  }
  return settle(call(bytesOf(source, 'source'),
                     (pointer, size) => lib.dorvane_scale(pointer, size, mode.charCodeAt(0), value)),
                options).bytes;
}

/** Both headers of a BMP file, field by field under their published names (bfType ...
 * biClrImportant), as the file holds them. */
export function header(source) {
  const result = check(call(bytesOf(source, 'source'), lib.dorvane_header));
  const fields = {};
  for (const line of result.text.split('\n')) {
    if (line !== '') {
      const [name, value] = line.split(' ');
      fields[name] = Number(value);
    }
  }
  return fields;
}

/** The picture of a BMP file at 1, 4, 8, 16, 24 or 32 bits per pixel: `rgb` holds red, green and
 * blue of pixel (x, y) at 3 (y width + x), row 0 at the top. */
export function readBmp(source, options) {
  const result = settle(call(bytesOf(source, 'source'), lib.dorvane_read), options);
  return { width: result.width, height: result.height, rgb: result.bytes };
}

/** The BMP file of a picture at `bitDepth` bits per pixel: `rgb` (3 bytes a pixel) or `gray` (1),
 * row 0 at the top. At 1, 4 and 8 bits the file has the standard palette of its depth and each
 * pixel the nearest entry. */
export function writeBmp({ width, height, rgb, gray }, bitDepth = 24) {
  const channels = rgb !== undefined ? 3 : 1;
  const pixels = bytesOf(rgb ?? gray, rgb !== undefined ? 'rgb' : 'gray');
  if (!Number.isInteger(width) || !Number.isInteger(height) || width < 1 || height < 1 ||
      pixels.length !== channels * width * height) {
    throw new RangeError(`the picture must have ${channels} bytes for each of its width x height` +
                         ' pixels');
  }
  return check(call(pixels, (pointer) => lib.dorvane_write(pointer, width, height, channels,
                                                              bitDepth))).bytes;
}
