// The page: a BMP file's picture, its blur and its edge map side by side, by the library in
// WebAssembly, with the header's fields and the time each step took; a refused file shows the
// library's reason. The last results stay in window.dorvanePage for the page's test.
import * as dorvane from './dorvane.js';

const $ = (id) => document.getElementById(id);

function draw(canvas, bytes) {
  const { width, height, rgb } = dorvane.readBmp(bytes);
  canvas.width = width;
  canvas.height = height;
  const image = new ImageData(width, height);
  for (let i = 0; i < width * height; ++i) {
    image.data.set(rgb.subarray(3 * i, 3 * i + 3), 4 * i);
    image.data[4 * i + 3] = 255;
  }
  canvas.getContext('2d').putImageData(image, 0, 0);
}

function timed(call) {
  const start = performance.now();
  const result = call();
  return { result, ms: performance.now() - start };
}

function show(name, bytes) {
  $('name').textContent = name;
  $('reason').hidden = true;
  $('header').replaceChildren();
  const page = { name, state: 'working' };
  window.dorvanePage = page;
  try {
    const fields = dorvane.header(bytes);
    for (const [field, value] of Object.entries(fields)) {
      const term = document.createElement('dt');
      const description = document.createElement('dd');
      term.textContent = field;
      description.textContent = value;
      $('header').append(term, description);
    }
    const warnings = [];
    const onWarning = (message) => warnings.push(message);
    const read = timed(() => dorvane.readBmp(bytes, { onWarning }));
    const blur = timed(() => dorvane.blur(bytes, { onWarning }));
    const edges = timed(() => dorvane.edges(bytes, { onWarning }));
    draw($('source'), bytes);
    draw($('blur'), blur.result);
    draw($('edges'), edges.result);
    for (const [id, step] of [['source', read], ['blur', blur], ['edges', edges]]) {
      $(`${id}-time`).textContent = `${step.ms.toFixed(1)} ms`;
    }
    if (warnings.length > 0) {
      $('reason').textContent = `${name}: warning: ${warnings[0]}`;
      $('reason').hidden = false;
    }
    Object.assign(page, { state: 'shown', blurred: blur.result, edges: edges.result });
  } catch (error) {
    $('reason').textContent = `${name}: ${error.message}`;
    $('reason').hidden = false;
    for (const id of ['source', 'blur', 'edges']) {
      $(id).width = 0;
      $(`${id}-time`).textContent = '';
    }
    Object.assign(page, { state: 'refused', reason: error.message });
  }
}

async function open(file) {
  show(file.name, new Uint8Array(await file.arrayBuffer()));
}

$('vectors').textContent = `vectors: ${dorvane.vectors}`;
$('file').addEventListener('change', (event) => {
  if (event.target.files.length > 0) {
    open(event.target.files[0]);
  }
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  if (event.dataTransfer.files.length > 0) {
    open(event.dataTransfer.files[0]);
  }
});

const sample = await fetch('landscape.bmp');
show('landscape.bmp', new Uint8Array(await sample.arrayBuffer()));
