#!/usr/bin/env python3
"""Request bodies for comparing two builds' answers, deterministic from a seed.

    bench/gen_bodies.py [--seed S] [--count N] DIR

writes N files DIR/gen-00000.q ... (the same bytes for the same seed and
index): valid functions made of every construct (declarations, nested
if/else and while, long +/- chains whose negated operands spill, returns,
many variables, the constant 0 and leading zeros, names that look like the
compiler's own such as _1_t or _RES, keywords and non-ASCII letters as names,
CR LF and tab layouts, empty bodies), and the same bodies spoiled: a token
dropped, doubled or swapped for a stray one, the text cut short, text after
the closing brace, names used undeclared or declared twice, a value returned
from a void function, numbers out of range, and bytes that are not UTF-8.
"""
import argparse
import os
import random

NAMES = ["a", "b", "x", "y", "n", "s", "t", "i", "_", "t_1", "RES", "x9", "acc", "int", "void",
         "while", "else", "return", "café", "x²", "Zähler", "ζ", "v" * 40]
# Names like those the compiler makes for itself (some of them are refused).
LOOKALIKES = ["_1_t", "_RES", "_t0", "_2_t", "_ret", "_1_w", "_0"]
# Names that cannot stand first in a statement (after "int" a declaration is read).
KEYWORDS = ("if", "while", "else", "return", "int")
COMPARISONS = ["==", "!=", ">=", "<=", ">", "<"]
STRAY = ["+", "-", "=", "==", ";", "{", "}", "(", ")", ",", "*", "/", "!", "<", "if", "else",
         "while", "return", "int", "void", "0", "128", "007", "1a", "é", "\u00a0", "\t", "\n"]
BAD_UTF8 = [b"\xff", b"\xc3", b"\xe2\x82", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf8\x88\x80\x80\x80",
            b"\x80", b"\xf4\x90\x80\x80"]


class Program:
    """One random function; its text is a list of tokens joined by layout."""

    def __init__(self, rng):
        self.rng = rng
        self.returns = rng.random() < 0.8  # int, else void
        pool = rng.sample(NAMES, rng.randint(1, 8))
        if rng.random() < 0.15:
            pool += rng.sample(LOOKALIKES, rng.randint(1, 2))
        if rng.random() < 0.1:
            pool += [f"v{k}" for k in range(rng.randint(20, 120))]
        self.params = pool[: rng.randint(0, min(4, len(pool)))]
        self.locals = pool[len(self.params):]
        self.names = self.params + self.locals
        self.targets = [name for name in self.names if name not in KEYWORDS]
        self.depth_left = rng.randint(0, 6)

    def operand(self):
        rng = self.rng
        sign = ["-"] if rng.random() < 0.3 else []
        if not self.names or rng.random() < 0.3:
            literal = rng.choice(["0", "0", "1", "127", "007", str(rng.randint(0, 127))])
            return sign + [literal]
        return sign + [rng.choice(self.names)]

    def expression(self):
        rng = self.rng
        length = rng.choice([1, 1, 2, 3, 5, 8]) if rng.random() < 0.95 else rng.randint(30, 400)
        tokens = self.operand()
        for _ in range(length - 1):
            tokens += [rng.choice("+-")] + self.operand()
        return tokens

    def statements(self, depth):
        rng = self.rng
        tokens = []
        for _ in range(rng.choice([0, 1, 1, 2, 3, 5]) if depth else rng.randint(0, 12)):
            kind = rng.random()
            if kind < 0.2 and depth < self.depth_left:
                head = "while" if rng.random() < 0.4 else "if"
                tokens += [head, "("] + self.expression() + [rng.choice(COMPARISONS)]
                tokens += self.expression() + [")", "{"] + self.statements(depth + 1) + ["}"]
                if head == "if" and rng.random() < 0.5:
                    tokens += ["else", "{"] + self.statements(depth + 1) + ["}"]
            elif kind < 0.3 and self.returns:
                tokens += ["return"] + self.expression() + [";"]
            elif self.targets:
                tokens += [rng.choice(self.targets), "="] + self.expression() + [";"]
        return tokens

    def tokens(self):
        rng = self.rng
        out = ["int" if self.returns else "void", rng.choice(["f", "main", "_RES", "g_1"]), "("]
        for k, name in enumerate(self.params):
            out += ([","] if k else []) + ["int", name]
        out += [")", "{"]
        for name in self.locals:
            out += ["int", name, "=", rng.choice(["0", "1", "42", "127", "00", "0127"]), ";"]
        out += self.statements(0)
        if self.returns and rng.random() < 0.7:
            out += ["return"] + self.expression() + [";"]
        return out + ["}"]


def layout(rng, tokens):
    """Joins tokens with a layout of one of several kinds."""
    style = rng.choice(["space", "tight", "lines", "crlf", "tabs"])
    if style == "tight":
        # Words still need something between them.
        out = []
        for token in tokens:
            if out and (out[-1][-1].isalnum() or out[-1][-1] == "_") and (token[0].isalnum() or token[0] == "_"):
                out.append(" ")
            out.append(token)
        return "".join(out)
    glue = {"space": " ", "lines": "\n", "crlf": "\r\n", "tabs": "\t"}[style]
    text = []
    for token in tokens:
        text.append(token)
        text.append(glue if rng.random() < 0.8 else " ")
    return "".join(text)


def spoil(rng, program, tokens):
    """Makes a valid program invalid in one of several ways (some stay valid)."""
    kind = rng.randrange(10)
    tokens = list(tokens)
    at = rng.randrange(len(tokens))
    if kind == 0:
        del tokens[at]
    elif kind == 1:
        tokens.insert(at, tokens[at])
    elif kind == 2:
        tokens[at] = rng.choice(STRAY)
    elif kind == 3:  # a name never declared, read or assigned
        tokens.insert(len(tokens) - 1, rng.choice(["zz", "_1_t", "q"]))
        tokens[-1:-1] = ["=", "zz", "+", "1", ";"]
    elif kind == 4:  # a declaration or parameter twice
        name = rng.choice(program.names or ["a"])
        tokens[tokens.index("{") + 1:tokens.index("{") + 1] = ["int", name, "=", "1", ";"] * 2
    elif kind == 5:  # a value returned from a void function
        tokens[0] = "void"
        tokens[-1:-1] = ["return", "0", ";"]
    elif kind == 6:
        tokens[at] = rng.choice(["128", "255", "1000", "99999999999999999999", "١٢", "12ab"])
    elif kind == 7:  # text after the closing brace
        tokens += rng.choice([["int", "g", "(", ")", "{", "}"], ["}", "}"], ["garbage", "!!"],
                              ["\u00e9\u0000"]])
    text = layout(rng, tokens).encode()
    return spoil_text(rng, text, kind - 8) if kind >= 8 else text


def spoil_text(rng, text, kind):
    """Spoils a text as bytes: 0 cuts it short, 1 puts bytes that are not
    UTF-8 anywhere (the end included), 2 puts a stray token anywhere."""
    cut = rng.randrange(len(text) + 1)
    if kind == 0:
        return text[:cut]
    if kind == 1:
        return text[:cut] + rng.choice(BAD_UTF8) + text[cut:]
    return text[:cut] + rng.choice(STRAY).encode() + text[cut:]


def body(seed, index):
    rng = random.Random(f"{seed}:{index}")
    pick = rng.random()
    if pick < 0.03:
        return rng.choice([b"", b" ", b"\n", b"int f() {}", b"void f() {}", b"int f(){return 0;}",
                           b"\xef\xbb\xbfint f() {}", b"int f() {} trailing \xff"])
    program = Program(rng)
    tokens = program.tokens()
    if pick < 0.55:
        return layout(rng, tokens).encode()
    return spoil(rng, program, tokens)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", default="1")
    parser.add_argument("--count", type=int, default=5000)
    parser.add_argument("dir")
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    for index in range(args.count):
        with open(os.path.join(args.dir, f"gen-{index:05d}.q"), "wb") as out:
            out.write(body(args.seed, index))


if __name__ == "__main__":
    main()
