// The examples menu.
export const EXAMPLES = [
  {
    name: "Summing loop",
    source:
      "int f(int n) {\n" +
      "    int s = 0;\n" +
      "    while (n > 0) {\n" +
      "        s = s + n;\n" +
      "        n = n - 1;\n" +
      "    }\n" +
      "    return s;\n" +
      "}\n",
  },
  {
    name: "If / else",
    source:
      "int max(int a, int b) {\n" +
      "    if (a > b) {\n" +
      "        return a;\n" +
      "    } else {\n" +
      "        return b;\n" +
      "    }\n" +
      "}\n",
  },
  {
    name: "Multiply by adding",
    source:
      "int mul(int a, int b) {\n" +
      "    int p = 0;\n" +
      "    int neg = 0;\n" +
      "    if (b < 0) {\n" +
      "        b = -b;\n" +
      "        neg = 1;\n" +
      "    }\n" +
      "    while (b != 0) {\n" +
      "        p = p + a;\n" +
      "        b = b - 1;\n" +
      "    }\n" +
      "    if (neg == 1) {\n" +
      "        p = -p;\n" +
      "    }\n" +
      "    return p;\n" +
      "}\n",
  },
  {
    name: "Syntax error",
    source:
      "int f(int n) {\n" +
      "    int s = 0;\n" +
      "    while (n > 0 {\n" +
      "        s = s + n;\n" +
      "    }\n" +
      "    return s;\n" +
      "}\n",
  },
  {
    name: "Validation error",
    source:
      "int f(int n) {\n" +
      "    int s = 0;\n" +
      "    s = s + m;\n" +
      "    return s;\n" +
      "}\n",
  },
];
