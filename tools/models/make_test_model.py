#!/usr/bin/python3
"""Writes a small GigaAM-shaped model whose hearing is known by construction.

    make_test_model.py FOLDER [NEWER_FOLDER]

The build makes it on demand with the CMake target talvoro_test_model, in
${CMAKE_BINARY_DIR}/test-models/gigaam (with a copy of the preprocessor, so the folder is
usable on its own). FOLDER receives gigaam-v3-encoder.onnx, gigaam-v3-decoder.onnx,
gigaam-v3-joint.onnx and gigaam-v3-vocab.txt with the real file names, tensor names, shapes
and element types of the published export (istupakov/gigaam-v3-onnx): "encoded_len" is
int32, the decoder's "dec" is [1, 1, 320] and its states are "h.1"/"c.1" -> "h"/"c". The
encoder is padded past 100 MiB with an unused block of zeros so that the folder passes the
size floors. FOLDER also gets manifest.txt, the "name size sha256" lines of the four files
under their published names (for MODEL_MANIFEST).

NEWER_FOLDER, when given, holds the same model as GigaAM's current export writes it: the
decoder's states named "hi"/"ci" -> "ho"/"co" and "dec" as [1, 320, 1], and a vocabulary with
a byte-order mark and CRLF line ends; the other parts are links to FOLDER's.

WHAT IT HEARS (16 kHz mono, sine tones):

    frequency  token id  token text    the word in the text
    300 Hz        17     "▁привет"     привет
    450 Hz        42     "▁мир"        мир
    600 Hz       101     "▁как"        как
    800 Hz       150     "▁дела"       дела
    1000 Hz      230     "▁э-э"        э-э (a hesitation: cleaning removes it)
    1250 Hz      300     "▁да"         да
    1500 Hz      333     "▁нет"        нет
    1800 Hz        5     "."           a full stop glued to the previous word
    2200 Hz      400     "▁сло"        сло... (a word start)
    2600 Hz      401     "во"          ...во  (so 2200 Hz then 2600 Hz spells "слово")
    3100 Hz      512     "▁ха"         STUCK: emits "▁ха" on every symbol step of every frame
    3700 Hz      600/601 "▁раз"/"▁два" TIE: both get exactly the same score; the lower id wins
    4400 Hz      777     "▁готово"     готово

    blank = 1024 (the highest id, line "<blk> 1024"); id 1000 is a separator missing from the
    vocabulary file (it decodes to nothing); every other id below 1024 is an unused "▁запасN".

Rules, with one encoder frame = 4 feature frames = 640 samples (40 ms), frame j covering
samples [640 j, 640 j + 800):
- A tone of amplitude 0.1 to 0.9 (digital silence, or noise below 0.001, elsewhere) held for
  0.2 s or more emits its token exactly once, however long it is held: the decoder remembers
  the last emitted token and the joint gives blank while the same tone goes on.
- Silence gives blank, except once right after a tone, where it emits the invisible separator
  1000, so that the same tone after a pause of 0.2 s or more emits again ("да да").
- A tone directly followed by another tone (no pause) emits both tokens in order.
- STUCK (3100 Hz): every frame where it sounds emits the maximum of 10 tokens. A burst of
  exactly n x 640 samples starting at a multiple of 640 samples (counted from the start of
  the decoded window) covers exactly n frames, so it yields 10 n words "ха".
- TIE (3700 Hz): emits "раз" once (the joint scores of 600 and 601 are bitwise equal and the
  first index wins); a decoder that lets the later index win would write "два".

Examples (each tone 0.3 s at amplitude 0.5, separated by 0.3 s of silence):
    300, 450                 -> "привет мир"
    600, 800, 1800           -> "как дела."
    1250, 1000, 1250         -> "да да" (after cleaning the hesitation)
    2200, 2600               -> "слово"
    1250 then 640 samples of 3100 Hz at sample 19200 -> "да ха ха ха ха ха ха ха ха ха ха"
                                                      (one "да" and ten "ха")
    3700                     -> "раз"

How it works: the encoder averages every 4 feature frames, quantises them with
DynamicQuantizeLinear and picks each tone's mel band with MatMulInteger, then a sharp
softmax against a silence score of 0 gives one-hot "which tone" channels in "encoded"
[1, 768, T]. The decoder embeds the token as a one-hot slot and an LSTM (hidden 320) keeps
it as the state, so "dec" says which token came last. The joint (768 + 320 -> 320 -> 1025,
log-softmax) scores a tone's token at 10, minus 20 x 0.76 when that token came last, against
a blank score of 5.
"""
import hashlib
import os
import sys

import numpy as np
from onnx import TensorProto, checker, helper, numpy_helper, save

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_preprocessor  # noqa: E402

D_MODEL = 768
HIDDEN = 320
VOCAB = 1025
BLANK = 1024
SEPARATOR = 1000
SUBSAMPLING = 4
ENCODER_FLOOR = 104857600

# (frequency, kind, token ids); kind: "once", "stuck" or "tie".
TONES = [
    (300, "once", [17]), (450, "once", [42]), (600, "once", [101]), (800, "once", [150]),
    (1000, "once", [230]), (1250, "once", [300]), (1500, "once", [333]), (1800, "once", [5]),
    (2200, "once", [400]), (2600, "once", [401]), (3100, "stuck", [512]),
    (3700, "tie", [600, 601]), (4400, "once", [777]),
]
TEXTS = {17: "▁привет", 42: "▁мир", 101: "▁как", 150: "▁дела", 230: "▁э-э", 300: "▁да",
         333: "▁нет", 5: ".", 400: "▁сло", 401: "во", 512: "▁ха", 600: "▁раз", 601: "▁два",
         777: "▁готово"}

SHARPNESS = 2.0      # softmax gain over log-mel values
SILENCE_SCORE = 0.0  # a tone band of amplitude 0.1 reads about +4, silence about -20
EMIT = 10.0          # joint score of a token whose tone sounds
REPEAT = -20.0       # added when the decoder says that token came last (state about 0.76)
BLANK_SCORE = 5.0
GATE = 20.0          # LSTM gate biases: input and output gates open, forget gate shut
CELL_GAIN = 3.0


def tone_bands():
    """The mel band where each tone peaks, checked to stand far above the other tones."""
    window = make_preprocessor.hann_window().astype(np.float64)
    bank = make_preprocessor.mel_filters().astype(np.float64)
    t = np.arange(make_preprocessor.N_FFT) / make_preprocessor.SAMPLE_RATE
    rows = []
    for frequency, _, _ in TONES:
        power = np.abs(np.fft.rfft(0.1 * np.sin(2 * np.pi * frequency * t) * window)) ** 2
        rows.append(np.log(np.clip(power @ bank, 1e-9, 1e9)))
    rows = np.array(rows)
    bands = rows.argmax(axis=1)
    crossing = rows[:, bands]
    for k in range(len(TONES)):
        others = np.delete(crossing[k], k)
        assert crossing[k, k] > SILENCE_SCORE + 3 and others.max() < SILENCE_SCORE - 5, k
    assert len(set(bands)) == len(TONES)
    return bands


def const(name, array):
    return numpy_helper.from_array(np.asarray(array), name)


def model(nodes, name, inputs, outputs, initializers):
    graph = helper.make_graph(nodes, name, inputs, outputs, initializers)
    made = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)],
                             producer_name="talvoro-test")
    made.ir_version = 8
    return made


def encoder():
    tones = len(TONES)
    select = np.zeros((64, tones), np.int8)
    for k, band in enumerate(tone_bands()):
        select[band, k] = 1
    place = np.zeros((tones + 1, D_MODEL), np.float32)
    place[np.arange(tones + 1), np.arange(tones + 1)] = 1.0
    padding = ENCODER_FLOOR + (1 << 20)
    initializers = [
        const("select", select), const("select_zero", np.array(0, np.int8)),
        const("place", place),
        const("sub", np.array(SUBSAMPLING, np.int64)),
        const("sub_1d", np.array([SUBSAMPLING], np.int64)),
        const("zero_1d", np.array([0], np.int64)), const("one_1d", np.array([1], np.int64)),
        const("two_1d", np.array([2], np.int64)),
        const("bands_shape", np.array([-1, SUBSAMPLING, 64], np.int64)),
        const("rows_shape", np.array([-1, 64], np.int64)),
        const("silence", np.array(SILENCE_SCORE, np.float32)),
        const("nothing", np.array(0.0, np.float32)),
        const("sharpness", np.array(SHARPNESS, np.float32)),
        # Unused weights that bring the file past the downloadable encoder's size floor.
        helper.make_tensor("padding", TensorProto.UINT8, [padding], bytes(padding), raw=True),
    ]
    node = helper.make_node
    nodes = [
        node("Squeeze", ["audio_signal", "zero_1d"], ["by_band"]),
        node("Transpose", ["by_band"], ["by_frame"], perm=[1, 0]),
        node("Shape", ["by_frame"], ["frame_shape"]),
        node("Gather", ["frame_shape", "zero_1d"], ["frames"], axis=0),
        node("Div", ["frames", "sub_1d"], ["steps"]),
        node("Mul", ["steps", "sub_1d"], ["used"]),
        node("Slice", ["by_frame", "zero_1d", "used", "zero_1d"], ["whole"]),
        node("Reshape", ["whole", "bands_shape"], ["grouped"]),
        node("ReduceMean", ["grouped"], ["averaged"], axes=[1], keepdims=0),
        node("DynamicQuantizeLinear", ["averaged"], ["quantised", "scale", "zero_point"]),
        node("MatMulInteger", ["quantised", "select", "zero_point", "select_zero"], ["picked"]),
        node("Cast", ["picked"], ["picked_float"], to=TensorProto.FLOAT),
        node("Mul", ["picked_float", "scale"], ["tone_bands"]),
        node("ReduceMean", ["tone_bands"], ["any"], axes=[1], keepdims=1),
        node("Mul", ["any", "nothing"], ["zeros"]),
        node("Add", ["zeros", "silence"], ["silence_column"]),
        node("Concat", ["tone_bands", "silence_column"], ["scores"], axis=1),
        node("Mul", ["scores", "sharpness"], ["sharpened"]),
        node("Softmax", ["sharpened"], ["which"], axis=1),
        node("MatMul", ["which", "place"], ["frames_wide"]),
        node("Transpose", ["frames_wide"], ["channels"], perm=[1, 0]),
        node("Unsqueeze", ["channels", "zero_1d"], ["encoded"]),
        node("Div", ["length", "sub"], ["frames_len"]),
        node("Cast", ["frames_len"], ["encoded_len"], to=TensorProto.INT32),
    ]
    return model(
        nodes, "test_encoder",
        [helper.make_tensor_value_info("audio_signal", TensorProto.FLOAT, [1, 64, "T"]),
         helper.make_tensor_value_info("length", TensorProto.INT64, [1])],
        [helper.make_tensor_value_info("encoded", TensorProto.FLOAT, [1, D_MODEL, "F"]),
         helper.make_tensor_value_info("encoded_len", TensorProto.INT32, [1])],
        initializers)


def slots():
    """Decoder slot of every token that can be emitted, plus blank."""
    emitted = [token for _, _, tokens in TONES for token in tokens] + [SEPARATOR, BLANK]
    return {token: index for index, token in enumerate(emitted)}


def decoder(newer=False):
    slot = slots()
    spare = len(slot)
    dec_shape = [1, HIDDEN, 1] if newer else [1, 1, HIDDEN]
    embedding = np.zeros((VOCAB, HIDDEN), np.float32)
    for token in range(VOCAB):
        embedding[token, slot.get(token, spare)] = 1.0
    # Gate order i, o, f, c: the cell takes the embedding, the old state is forgotten.
    weights = np.zeros((1, 4 * HIDDEN, HIDDEN), np.float32)
    weights[0, 3 * HIDDEN:, :] = CELL_GAIN * np.eye(HIDDEN, dtype=np.float32)
    bias = np.zeros((1, 8 * HIDDEN), np.float32)
    bias[0, :HIDDEN] = GATE
    bias[0, HIDDEN:2 * HIDDEN] = GATE
    bias[0, 2 * HIDDEN:3 * HIDDEN] = -GATE
    initializers = [
        const("embedding", embedding), const("W", weights),
        const("R", np.zeros((1, 4 * HIDDEN, HIDDEN), np.float32)), const("B", bias),
        const("dec_shape", np.array(dec_shape, np.int64)),
        const("seq_axis", np.array([0], np.int64)),
    ]
    h_in, c_in, h_out, c_out = ("hi", "ci", "ho", "co") if newer else ("h.1", "c.1", "h", "c")
    node = helper.make_node
    nodes = [
        node("Gather", ["embedding", "x"], ["embedded"], axis=0),
        node("Transpose", ["embedded"], ["steps"], perm=[1, 0, 2]),
        node("LSTM", ["steps", "W", "R", "B", "", h_in, c_in], ["y", "h_out", "c_out"],
             hidden_size=HIDDEN),
        node("Reshape", ["y", "dec_shape"], ["dec"]),
        node("Identity", ["h_out"], [h_out]),
        node("Identity", ["c_out"], [c_out]),
    ]
    state = [1, 1, HIDDEN]
    return model(
        nodes, "test_decoder",
        [helper.make_tensor_value_info("x", TensorProto.INT64, [1, 1]),
         helper.make_tensor_value_info(h_in, TensorProto.FLOAT, state),
         helper.make_tensor_value_info(c_in, TensorProto.FLOAT, state)],
        [helper.make_tensor_value_info("dec", TensorProto.FLOAT, dec_shape),
         helper.make_tensor_value_info(h_out, TensorProto.FLOAT, state),
         helper.make_tensor_value_info(c_out, TensorProto.FLOAT, state)],
        initializers)


def joint():
    slot = slots()
    tones = len(TONES)
    state = 160  # hidden units from here on carry the decoder's slots
    from_encoder = np.zeros((D_MODEL, HIDDEN), np.float32)
    from_encoder[np.arange(tones + 1), np.arange(tones + 1)] = 1.0
    from_decoder = np.zeros((HIDDEN, HIDDEN), np.float32)
    for index in slot.values():
        from_decoder[index, state + index] = 1.0
    scores = np.zeros((HIDDEN, VOCAB), np.float32)
    bias = np.full(VOCAB, -10.0, np.float32)
    bias[BLANK] = BLANK_SCORE
    for k, (_, kind, tokens) in enumerate(TONES):
        for token in tokens:
            bias[token] = 0.0
            scores[k, token] = EMIT
            if kind != "stuck":
                for last in tokens:
                    scores[state + slot[last], token] = REPEAT
    bias[SEPARATOR] = 0.0
    scores[tones, SEPARATOR] = EMIT
    scores[state + slot[SEPARATOR], SEPARATOR] = REPEAT
    scores[state + slot[BLANK], SEPARATOR] = REPEAT
    initializers = [
        const("from_encoder", from_encoder), const("from_decoder", from_decoder),
        const("scores", scores), const("bias", bias),
        const("enc_shape", np.array([1, D_MODEL], np.int64)),
        const("dec_shape", np.array([1, HIDDEN], np.int64)),
        const("out_shape", np.array([1, 1, 1, VOCAB], np.int64)),
    ]
    node = helper.make_node
    nodes = [
        node("Reshape", ["enc", "enc_shape"], ["enc_row"]),
        node("Reshape", ["dec", "dec_shape"], ["dec_row"]),
        node("MatMul", ["enc_row", "from_encoder"], ["enc_hidden"]),
        node("MatMul", ["dec_row", "from_decoder"], ["dec_hidden"]),
        node("Add", ["enc_hidden", "dec_hidden"], ["summed"]),
        node("Relu", ["summed"], ["hidden"]),
        node("MatMul", ["hidden", "scores"], ["weighted"]),
        node("Add", ["weighted", "bias"], ["logits"]),
        node("LogSoftmax", ["logits"], ["log_probs"], axis=-1),
        node("Reshape", ["log_probs", "out_shape"], ["joint"]),
    ]
    return model(
        nodes, "test_joint",
        [helper.make_tensor_value_info("enc", TensorProto.FLOAT, [1, D_MODEL, 1]),
         helper.make_tensor_value_info("dec", TensorProto.FLOAT, [1, HIDDEN, 1])],
        [helper.make_tensor_value_info("joint", TensorProto.FLOAT, [1, 1, 1, VOCAB])],
        initializers)


def vocabulary():
    lines = []
    for token in range(VOCAB - 1):
        if token != SEPARATOR:
            lines.append(f"{TEXTS.get(token, f'▁запас{token}')} {token}")
    lines.append(f"<blk> {BLANK}")
    return "\n".join(lines) + "\n"


PUBLISHED = [("encoder", "v3_e2e_rnnt_encoder.int8.onnx", "onnx"),
             ("decoder", "v3_e2e_rnnt_decoder.int8.onnx", "onnx"),
             ("joint", "v3_e2e_rnnt_joint.int8.onnx", "onnx"),
             ("vocab", "v3_e2e_rnnt_vocab.txt", "txt")]


def manifest(folder):
    lines = []
    for part, published, extension in PUBLISHED:
        with open(os.path.join(folder, f"gigaam-v3-{part}.{extension}"), "rb") as f:
            content = f.read()
        lines.append(f"{published} {len(content)} {hashlib.sha256(content).hexdigest()}\n")
    with open(os.path.join(folder, "manifest.txt"), "w", encoding="utf-8") as f:
        f.writelines(lines)


def newer_export(folder, newer):
    os.makedirs(newer, exist_ok=True)
    made = decoder(newer=True)
    checker.check_model(made)
    save(made, os.path.join(newer, "gigaam-v3-decoder.onnx"))
    with open(os.path.join(newer, "gigaam-v3-vocab.txt"), "w", encoding="utf-8",
              newline="\r\n") as f:
        f.write("\ufeff" + vocabulary())
    for name in ("gigaam-v3-encoder.onnx", "gigaam-v3-joint.onnx", "gigaam-v3-preprocessor.onnx"):
        link = os.path.join(newer, name)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.join(os.path.abspath(folder), name), link)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: make_test_model.py FOLDER [NEWER_FOLDER]")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, made in (("decoder", decoder()), ("joint", joint())):
        checker.check_model(made)
        save(made, os.path.join(folder, f"gigaam-v3-{name}.onnx"))
    save(encoder(), os.path.join(folder, "gigaam-v3-encoder.onnx"))
    with open(os.path.join(folder, "gigaam-v3-vocab.txt"), "w", encoding="utf-8") as f:
        f.write(vocabulary())
    manifest(folder)
    if len(sys.argv) == 3:
        newer_export(folder, sys.argv[2])


if __name__ == "__main__":
    main()
