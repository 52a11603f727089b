// Makes k7vconf.html: the page in one file that works opened from disk (a
// file:// address, where a browser fetches nothing and loads no module file).
// esbuild bundles web/js/main.js with the core built as one JavaScript file
// (the WebAssembly inside) and both caption files; the styles and icons go
// inline; what only a served site has (the manifest, the notice that the
// folder must be served) is left out.
//   node web/tools/single_file.js SINGLE_CORE_JS OUT_HTML   (from the repository's top)
// Exits non-zero, saying why, when a part is missing or the bundle fails.

import { readFile, writeFile } from 'node:fs/promises';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { build } from 'esbuild';

const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const WEB = join(ROOT, 'web');
const RESOURCES = join(ROOT, 'resources');

/** The module that hands the built-in core and caption files to the page before it starts. */
function setupSource(/** @type {string} */ coreFile) {
  return [
    `import createK7vCore from ${JSON.stringify(coreFile)};`,
    `import zh from ${JSON.stringify(join(RESOURCES, 'caption.ini'))};`,
    `import en from ${JSON.stringify(join(RESOURCES, 'caption-en.ini'))};`,
    `import { useBuiltInCore } from ${JSON.stringify(join(WEB, 'js/core.js'))};`,
    `import { useBuiltInCaptionFile } from ${JSON.stringify(join(WEB, 'js/captions.js'))};`,
    'useBuiltInCore(createK7vCore);',
    "useBuiltInCaptionFile('caption.ini', zh);",
    "useBuiltInCaptionFile('caption-en.ini', en);",
  ].join('\n');
}

/** @returns {Promise<string>} the page's modules and the core as one ES module */
async function bundle(/** @type {string} */ coreFile) {
  const result = await build({
    stdin: {
      // The set-up module first: modules run in the order they are imported.
      contents: `import 'k7v:setup';\nimport ${JSON.stringify(join(WEB, 'js/main.js'))};\n`,
      resolveDir: WEB,
      sourcefile: 'k7vconf-entry.js',
    },
    bundle: true,
    format: 'esm',
    minify: true,
    target: 'es2022',
    write: false,
    legalComments: 'none',
    loader: { '.ini': 'binary' },
    logLevel: 'warning',
    plugins: [{
      name: 'k7v-setup',
      setup(b) {
        b.onResolve({ filter: /^k7v:setup$/ }, (args) => ({ path: args.path, namespace: 'k7v' }));
        b.onLoad({ filter: /.*/, namespace: 'k7v' }, () => ({
          contents: setupSource(coreFile), resolveDir: WEB, loader: 'js',
        }));
      },
    }],
  });
  return result.outputFiles[0].text;
}

/** A file's bytes as a data: address. @param {string} file @param {string} type */
async function dataUrl(file, type) {
  return `data:${type};base64,${(await readFile(file)).toString('base64')}`;
}

async function main() {
  const [coreFile, out] = process.argv.slice(2);
  if (!coreFile || !out) throw new Error('usage: single_file.js SINGLE_CORE_JS OUT_HTML');
  let html = await readFile(join(WEB, 'index.html'), 'utf8');
  const css = await readFile(join(WEB, 'css/page.css'), 'utf8');
  const script = (await bundle(resolve(coreFile))).replace(/<\/script/gi, '<\\/script');

  // What only a served folder needs.
  html = html.replace(/[ \t]*<!-- site only -->[\s\S]*?<!-- \/site only -->\n?/g, '');
  html = html.replace(/<link rel="stylesheet" href="css\/page\.css">/, () => `<style>\n${css}</style>`);
  html = html.replace(/<script type="module" src="js\/main\.js"><\/script>/,
    () => `<script type="module">${script}</script>`);
  const icons = new Map();
  for (const match of html.matchAll(/(?:src|href)="(icons\/[\w-]+\.png)"/g)) {
    if (!icons.has(match[1])) icons.set(match[1], await dataUrl(join(RESOURCES, match[1]), 'image/png'));
  }
  html = html.replace(/((?:src|href)=")(icons\/[\w-]+\.png)"/g, (_, attribute, path) => `${attribute}${icons.get(path)}"`);
  if (/(?:src|href)="(?!data:|#)[^"]+"/.test(html)) {
    throw new Error('the page still names a file of its folder: it would not open from disk');
  }
  await writeFile(out, html);
}

main().catch((error) => {
  console.error(`single_file: ${error instanceof Error ? error.message : error}`);
  process.exit(1);
});
