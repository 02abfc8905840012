// Lists the screenshots the browser tests saved, to look at by eye.
import fs from 'node:fs';
import path from 'node:path';
import { screenshots } from './shop.mjs';

const files = fs.existsSync(screenshots) ? fs.readdirSync(screenshots).filter((f) => f.endsWith('.png')).sort() : [];
console.log(files.length ? `Screenshots of the web UI (${files.length}):` : 'No screenshots were saved.');
for (const file of files) console.log('  ' + path.join(screenshots, file));
