// Runs a WASI program (a .wasm file, then its arguments) under Node's WASI, with no files, and
// exits with its status.
import { readFile } from 'node:fs/promises';
import process, { argv, env } from 'node:process';
import { WASI } from 'node:wasi';

const wasi = new WASI({ version: 'preview1', args: argv.slice(2), env, returnOnExit: true });
const module = await WebAssembly.compile(await readFile(argv[2]));
process.exitCode = wasi.start(await WebAssembly.instantiate(module, wasi.getImportObject()));
