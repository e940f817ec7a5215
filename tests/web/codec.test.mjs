// The WebAssembly core gives the native build's results on every file of
// the fuzz corpus: reply kinds, firmware checks and decoded settings.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import { root, webDir } from "./harness.mjs";

const corpus = ["reply", "lnx_settings", "usb_settings"].flatMap((d) =>
  readdirSync(join(root, "tests/fuzz/corpus", d)).sort().map((f) => join(root, "tests/fuzz/corpus", d, f)),
);

function wasmLines() {
  const instance = new WebAssembly.Instance(new WebAssembly.Module(readFileSync(join(webDir, "core.wasm"))), {});
  const x = instance.exports;
  const io = () => new Uint8Array(x.memory.buffer, x.vm_io(), 256);
  return corpus.map((file) => {
    const bytes = readFileSync(file).subarray(0, 64);
    io().fill(0);
    io().set(bytes);
    let line = `${file} ${x.vm_classify(bytes.length)}`;
    const payload = io().slice(0, 64);
    for (const kind of [0, 1]) {
      io().fill(0);
      io().set(payload);
      const fw = x.vm_decode(kind);
      const v = io();
      line += ` ${fw}:${v[0]},${v[1]},${v[2]},${v[3]}`;
    }
    return line;
  });
}

test("core.wasm classifies and decodes the fuzz corpus exactly as the native build", () => {
  const out = join(root, "build", "web-test");
  mkdirSync(out, { recursive: true });
  const exe = join(out, "codec_dump");
  execFileSync("g++", ["-std=c++17", "-O1", "-fsanitize=address,undefined", "-fno-sanitize-recover=all", "-I", root, "-o", exe,
    join(root, "tests/web/codec_dump.cpp"), join(root, "web/wasm/page_core.cpp"),
    join(root, "protocol/wire.cpp"), join(root, "protocol/settings_table.cpp")]);
  const native = execFileSync(exe, corpus, { maxBuffer: 1 << 24 }).toString().trimEnd().split("\n");
  const wasm = wasmLines();
  assert.ok(corpus.length > 50, "the corpus is there");
  assert.ok(native.some((l) => / 3 0:/.test(l)), "some files are settings replies of a supported reader");
  assert.deepEqual(wasm, native);
});
