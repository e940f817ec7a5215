// The WebAssembly core gives the native build's results on every file of
// the fuzz corpus: reply kinds, firmware checks and decoded settings.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import { root } from "./harness.mjs";

const corpus = ["reply", "lnx_settings", "usb_settings"].flatMap((d) =>
  readdirSync(join(root, "tests/fuzz/corpus", d)).sort().map((f) => join(root, "tests/fuzz/corpus", d, f)),
);

function wasmLines(file) {
  const instance = new WebAssembly.Instance(new WebAssembly.Module(readFileSync(file)), {});
  const x = instance.exports;
  x._initialize?.();
  const io = () => new Uint8Array(x.memory.buffer, x.check_io(), 256);
  return corpus.map((file) => {
    const bytes = readFileSync(file).subarray(0, 64);
    io().fill(0);
    io().set(bytes);
    let line = `${file} ${x.check_classify(bytes.length)}`;
    const payload = io().slice(0, 64);
    for (const kind of [0, 1]) {
      io().fill(0);
      io().set(payload);
      const fw = x.check_decode(kind);
      const v = io();
      line += ` ${fw}:${v[0]},${v[1]},${v[2]},${v[3]}`;
    }
    return line;
  });
}

const sources = ["tests/web/codec_check.cpp", "protocol/wire.cpp", "protocol/settings_table.cpp"].map((f) => join(root, f));

test("the codec built to WebAssembly classifies and decodes the fuzz corpus exactly as the native build", () => {
  const out = join(root, "build", "web-test");
  mkdirSync(out, { recursive: true });
  const exe = join(out, "codec_dump");
  execFileSync("g++", ["-std=c++17", "-O1", "-fsanitize=address,undefined", "-fno-sanitize-recover=all", "-I", root, "-o", exe,
    join(root, "tests/web/codec_dump.cpp"), ...sources]);
  const native = execFileSync(exe, corpus, { maxBuffer: 1 << 24 }).toString().trimEnd().split("\n");
  const wasmFile = join(out, "codec_check.wasm");
  execFileSync(join(root, "tools/web-gen/wasm-cc"), [wasmFile, ...sources]);
  const wasm = wasmLines(wasmFile);
  assert.ok(corpus.length > 50, "the corpus is there");
  assert.ok(native.some((l) => / 3 0:/.test(l)), "some files are settings replies of a supported reader");
  assert.deepEqual(wasm, native);
});
