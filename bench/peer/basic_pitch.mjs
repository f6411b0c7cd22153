// Bench-only reference transcriber: Basic Pitch on TensorFlow.js (WASM backend), offline.
//   node basic_pitch.mjs [--backend wasm|cpu] FILE.wav [FILE.wav ...]
// Reads each WAV (mono, 16-bit PCM or 32-bit float; the first channel of anything wider),
// resamples it to 22050 Hz, runs the model once loaded for every file, and prints its note
// events with the library's own default thresholds:
//   # FILE seconds=S          (one line before each file's notes; S the time it took)
//   onset_s,midi,amplitude
//   0.512834,40,0.731
// Exit status 1 when a file cannot be read or the model not run.
import * as fs from 'node:fs';
import * as path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

import * as tf from '@tensorflow/tfjs';
import { setWasmPaths } from '@tensorflow/tfjs-backend-wasm';
import { BasicPitch, noteFramesToTime, outputToNotesPoly } from '@spotify/basic-pitch';

const MODEL_RATE = 22050;
const require = createRequire(import.meta.url);

// The RIFF chunks of a WAV file: its format and its first channel as floats in [-1, 1].
export function readWav(file) {
    const b = fs.readFileSync(file);
    if (b.toString('ascii', 0, 4) !== 'RIFF' || b.toString('ascii', 8, 12) !== 'WAVE') {
        throw new Error(`${file}: not a WAV file`);
    }
    let format = 0, channels = 0, rate = 0, bits = 0, data = null;
    for (let at = 12; at + 8 <= b.length;) {
        const id = b.toString('ascii', at, at + 4);
        const size = b.readUInt32LE(at + 4);
        const body = at + 8;
        if (id === 'fmt ') {
            format = b.readUInt16LE(body);
            channels = b.readUInt16LE(body + 2);
            rate = b.readUInt32LE(body + 4);
            bits = b.readUInt16LE(body + 14);
            if (format === 0xfffe && size >= 26) {
                format = b.readUInt16LE(body + 24); // the extensible format's sub-format
            }
        } else if (id === 'data') {
            data = b.subarray(body, Math.min(b.length, body + size));
        }
        at = body + size + (size & 1);
    }
    if (!data || channels < 1) {
        throw new Error(`${file}: no format or no data`);
    }
    const frame = channels * (bits / 8);
    const n = Math.floor(data.length / frame);
    const out = new Float32Array(n);
    if (format === 1 && bits === 16) {
        for (let i = 0; i < n; ++i) out[i] = data.readInt16LE(i * frame) / 32768;
    } else if (format === 3 && bits === 32) {
        for (let i = 0; i < n; ++i) out[i] = data.readFloatLE(i * frame);
    } else {
        throw new Error(`${file}: format ${format} with ${bits} bits is not read`);
    }
    return { rate, samples: out };
}

// Band-limited resampling: a Blackman-windowed sinc, 32 zero crossings either side of the lower
// rate's Nyquist (at 0.95 of it).
export function resample(x, from, to) {
    if (from === to) return x;
    const zeros = 32;
    const cutoff = 0.95 * Math.min(1, to / from);
    const taps = Math.ceil(zeros / cutoff);
    const kernel = (t) => {
        const a = Math.abs(t);
        if (a >= taps) return 0;
        const arg = Math.PI * cutoff * t;
        const sinc = t === 0 ? 1 : Math.sin(arg) / arg;
        const w = 0.42 + 0.5 * Math.cos((Math.PI * t) / taps) + 0.08 * Math.cos((2 * Math.PI * t) / taps);
        return cutoff * sinc * w;
    };
    const n = Math.round((x.length * to) / from);
    const y = new Float32Array(n);
    const step = from / to;
    for (let j = 0; j < n; ++j) {
        const centre = j * step;
        const c = Math.floor(centre);
        let sum = 0;
        for (let k = Math.max(0, c - taps + 1); k <= Math.min(x.length - 1, c + taps); ++k) {
            sum += x[k] * kernel(centre - k);
        }
        y[j] = sum;
    }
    return y;
}

// The model shipped inside the package, read from disk (tfjs alone has no file:// loader).
function modelHandler() {
    const dir = path.join(path.dirname(require.resolve('@spotify/basic-pitch/package.json')), 'model');
    return {
        load: async () => {
            const json = JSON.parse(fs.readFileSync(path.join(dir, 'model.json'), 'utf8'));
            const weights = [], chunks = [];
            for (const group of json.weightsManifest) {
                weights.push(...group.weights);
                for (const p of group.paths) chunks.push(fs.readFileSync(path.join(dir, p)));
            }
            const all = Buffer.concat(chunks);
            return {
                modelTopology: json.modelTopology,
                format: json.format,
                generatedBy: json.generatedBy,
                convertedBy: json.convertedBy,
                weightSpecs: weights,
                weightData: all.buffer.slice(all.byteOffset, all.byteOffset + all.byteLength),
            };
        },
    };
}

async function transcribe(basicPitch, samples) {
    const frames = [], onsets = [];
    await basicPitch.evaluateModel(
        samples,
        (f, o) => {
            frames.push(...f);
            onsets.push(...o);
        },
        () => {},
    );
    // The decoder's own defaults: onset 0.5, frame 0.3, notes of at least 5 frames.
    return noteFramesToTime(outputToNotesPoly(frames, onsets).map((n) => ({ ...n, pitchBends: [] })));
}

async function main(args) {
    let backend = 'wasm';
    const files = [];
    for (let i = 0; i < args.length; ++i) {
        if (args[i] === '--backend' && i + 1 < args.length) backend = args[++i];
        else files.push(args[i]);
    }
    if (files.length === 0) {
        process.stderr.write('usage: node basic_pitch.mjs [--backend wasm|cpu] FILE.wav ...\n');
        return 2;
    }
    if (backend === 'wasm') {
        const dist = path.dirname(require.resolve('@tensorflow/tfjs-backend-wasm/package.json'));
        setWasmPaths(path.join(dist, 'dist') + path.sep);
    }
    if (!(await tf.setBackend(backend))) {
        throw new Error(`backend ${backend} not available`);
    }
    await tf.ready();
    if (backend === 'wasm') {
        // The WASM backend's Fill takes no dtype from its value (the CPU backend's does), and
        // tf.signal.frame pads with a fill of none.
        const fill = tf.getKernel('Fill', 'wasm');
        tf.unregisterKernel('Fill', 'wasm');
        tf.registerKernel({
            ...fill,
            kernelFunc: (a) =>
                fill.kernelFunc({
                    ...a,
                    attrs: { ...a.attrs, dtype: a.attrs.dtype ?? (typeof a.attrs.value === 'string' ? 'string' : 'float32') },
                }),
        });
    }
    const basicPitch = new BasicPitch(tf.loadGraphModel(modelHandler()));
    process.stderr.write(`basic-pitch: backend ${tf.getBackend()}\n`);
    for (const file of files) {
        const started = process.hrtime.bigint();
        const wav = readWav(file);
        const notes = await transcribe(basicPitch, resample(wav.samples, wav.rate, MODEL_RATE));
        notes.sort((a, b) => a.startTimeSeconds - b.startTimeSeconds || a.pitchMidi - b.pitchMidi);
        const seconds = Number(process.hrtime.bigint() - started) / 1e9;
        let out = `# ${file} seconds=${seconds.toFixed(3)}\nonset_s,midi,amplitude\n`;
        for (const n of notes) {
            out += `${n.startTimeSeconds.toFixed(6)},${n.pitchMidi},${n.amplitude.toFixed(4)}\n`;
        }
        process.stdout.write(out);
    }
    return 0;
}

if (process.argv[1] && fileURLToPath(import.meta.url) === path.resolve(process.argv[1])) {
    main(process.argv.slice(2)).then(
        (code) => process.exit(code),
        (e) => {
            process.stderr.write(`basic-pitch: ${process.env.PEER_DEBUG ? e.stack : e.message}\n`);
            process.exit(1);
        },
    );
}
