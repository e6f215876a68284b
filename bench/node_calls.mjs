// node_calls JOB N SOURCE OUTPUT: the npm package's blur or edges (JOB) called N times in one Node
// process on the source's bytes read once, the last call's output written to OUTPUT: the Node row
// of bench/compare, whose peer is job_calls blur-bytes or edges-bytes. The same output as
// blur_calls.c: "call K MS" for each call (call 1 is the warm-up), then "peak_rss_kib KIB" and
// "vectors NAME", the build that ran.
import { readFileSync, writeFileSync } from 'node:fs';
import { performance } from 'node:perf_hooks';

import * as dorvane from '../js/dorvane.js';

const [job, count, source, output] = process.argv.slice(2);
const calls = Number(count);
if (!['blur', 'edges'].includes(job) || !Number.isInteger(calls) || calls < 1 || !output) {
  console.error('usage: node_calls.mjs blur|edges N SOURCE OUTPUT');
  process.exit(64);
}
const bytes = readFileSync(source);
let result;
for (let call = 1; call <= calls; ++call) {
  const start = performance.now();
  result = dorvane[job](bytes);
  console.log(`call ${call} ${(performance.now() - start).toFixed(3)}`);
}
writeFileSync(output, result);
console.log(`peak_rss_kib ${process.resourceUsage().maxRSS}`);
console.log(`vectors ${dorvane.vectors}`);
