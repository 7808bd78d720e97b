#!/usr/bin/env node
// Extracts a map's chunk file with scm-extractor, an independent reader of map archives.
// Usage: node extract.js MAP [OUT]   (OUT defaults to stdout)
'use strict'

const fs = require('fs')
const createExtractor = require('scm-extractor')

const [map, out] = process.argv.slice(2)
if (!map) {
  process.stderr.write('usage: node extract.js MAP [OUT]\n')
  process.exit(2)
}

const fail = err => {
  process.stderr.write(`extract.js: ${map}: ${err && err.message ? err.message : err}\n`)
  process.exit(1)
}

const chunks = []
fs.createReadStream(map)
  .on('error', fail)
  .pipe(createExtractor())
  .on('error', fail)
  .on('data', d => chunks.push(d))
  .on('end', () => {
    const data = Buffer.concat(chunks)
    if (out) fs.writeFileSync(out, data)
    else process.stdout.write(data)
  })
