"""vek-cli run as a script runs it, against vek-sim on a pseudo-terminal: every command on
both models, its --json output checked against the schema, the exit status of each kind of
failure, a script's round trip of a configuration, and Ctrl+C between exchanges."""

import csv
import io
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import jsonschema

CLI, SIM, SCHEMA = sys.argv[1:4]
del sys.argv[1:4]
with open(SCHEMA, encoding="utf-8") as f:
    SCHEMA_DEFS = json.load(f)
jsonschema.Draft202012Validator.check_schema(SCHEMA_DEFS)

BAUD = "115200"


def check(document, kind):
    schema = {"$ref": f"#/$defs/{kind}", "$defs": SCHEMA_DEFS["$defs"]}
    jsonschema.validate(document, schema, cls=jsonschema.Draft202012Validator)


class Line:
    """A vek-sim process serving the demonstration line (1: ВЭК-02МЕ, 2: ВЭК-01МЕ, 5: КСВЛ)."""

    def __init__(self):
        self.runtime = tempfile.TemporaryDirectory()
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime.name)
        self.sim = subprocess.Popen([SIM, "--baud", BAUD], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, text=True, env=env)
        ready = self.sim.stdout.readline().split()
        assert ready[0] == "ready", ready
        self.port = ready[1]
        self.data_dir = os.path.join(self.runtime.name, "data")  # the service journal's

    def command(self, text):
        """A command's reply: one line."""
        self.sim.stdin.write(text + "\n")
        self.sim.stdin.flush()
        return self.sim.stdout.readline()

    def block(self, address):
        """The device's configuration block as the simulator holds it."""
        lines = [self.command(f"show {address}")]
        while not lines[-1].startswith("  setpoint"):
            lines.append(self.sim.stdout.readline())
        return lines[1].split(":", 1)[1].strip()

    def close(self):
        self.sim.terminate()
        self.sim.wait(10)
        self.sim.stdin.close()
        self.sim.stdout.close()
        self.runtime.cleanup()

    def start(self, *args, stdin=subprocess.DEVNULL):
        env = dict(os.environ, VEK_PORT=self.port, XDG_RUNTIME_DIR=self.runtime.name,
                   VEK_DATA_DIR=self.data_dir)
        return subprocess.Popen([CLI, "--baud", BAUD, *args], stdin=stdin,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=env)

    def run(self, *args):
        process = self.start(*args)
        out, err = process.communicate(timeout=120)
        return process.returncode, out, err

    def json(self, *args, kind):
        status, out, err = self.run("--json", *args)
        self.last_err = err
        document = json.loads(out)
        check(document, kind)
        return status, document


class CliTest(unittest.TestCase):
    def setUp(self):
        self.line = Line()
        self.addCleanup(self.line.close)
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)


class Reading(CliTest):
    def test_read_both_models_and_the_line(self):
        for address, model, channels in [(1, "ВЭК-02МЕ", 2), (2, "ВЭК-01МЕ", 1)]:
            status, read = self.line.json("read", str(address), kind="read")
            self.assertEqual((status, read["address"], read["model"]), (0, address, model))
            self.assertEqual(len(read["channels"]), channels)
            self.assertEqual(read["fields"]["device_number"], str(address))
            # The block as read: offset 17 holds the 0-based number.
            self.assertEqual(int(read["block"][34:36], 16), address - 1)
            status, out, _ = self.line.run("read", str(address))
            self.assertIn(model, out)
            self.assertIn("Код АЦП конца шкалы, канал 1", out)

        # The simulator's demonstration values as the window shows them (20..100 kPa, 62.5 kPa).
        status, read = self.line.json("read", "1", kind="read")
        self.assertAlmostEqual(read["channels"][0]["pressure_kpa"], 62.5, delta=0.2)

        demonstration = [(1, 106, "ВЭК-02МЕ", False), (2, 105, "ВЭК-01МЕ", False),
                         (5, 100, "КСВЛ", False)]
        for fast in ([], ["--fast"]):
            status, scan = self.line.json("scan", "--max", "6", *fast, kind="scan")
            self.assertEqual(status, 0)
            self.assertEqual([(d["address"], d["type"], d["model"], d["late"])
                              for d in scan["devices"]], demonstration)
        # A device slower than the fast scan's first-byte wait is found all the same.
        self.line.command("turnaround 200")
        status, scan = self.line.json("scan", "--max", "6", "--fast", kind="scan")
        self.assertEqual([(d["address"], d["late"]) for d in scan["devices"]],
                         [(1, True), (2, True), (5, True)])
        self.line.command("turnaround 5")

        status, ports = self.line.json("ports", kind="ports")
        self.assertIn(self.line.port, [p["name"] for p in ports["ports"]])

    def test_watch_gives_a_line_per_read(self):
        process = self.line.start("watch", "2", "--count", "3", "--interval", "100", "--json")
        out, _ = process.communicate(timeout=60)
        lines = out.splitlines()
        self.assertEqual((process.returncode, len(lines)), (0, 3))
        for line in lines:
            check(json.loads(line), "watch")
        status, out, _ = self.line.run("watch", "1", "--count", "2", "--interval", "0")
        rows = [row.split(",") for row in out.splitlines()]
        self.assertEqual(rows[0][:4], ["time", "address", "model", "result1"])
        self.assertEqual([len(r) for r in rows], [13, 13, 13])
        self.assertEqual(rows[1][1:3], ["1", "ВЭК-02МЕ"])


class Writing(CliTest):
    def test_script_round_trip(self):
        saved = self.path("device1.json")
        self.assertEqual(self.line.json("save", "1", saved, kind="save")[0], 0)

        status, written = self.line.json("set", "1", "setpoint1=60,5", "characteristic2=linear",
                                         "range1=0-100", "trim-end2=-8", "--yes", kind="write")
        self.assertEqual(status, 0, self.line.last_err)
        self.assertEqual({c["field"] for c in written["changes"]},
                         {"setpoint_1_code", "setpoint_1_percent", "range_start_kpa_1",
                          "characteristic_2", "trim_end_2"})
        self.assertEqual(self.line.block(1)[15:20], "B7 26")  # setpoint 1: code 9911

        status, compared = self.line.json("compare", "1", saved, kind="compare")
        self.assertEqual(status, 1)
        self.assertIn({"field": "characteristic_2", "label": "Статическая характеристика, канал 2",
                       "device": "линейная", "file": "корнеизвлечение"},
                      compared["differences"])

        # The trim is calibration: it comes back only when asked for.
        status, written = self.line.json("write", "1", saved, "--yes", kind="write")
        self.assertEqual((status, len(written["changes"])), (0, 4))
        status, written = self.line.json("write", "1", saved, "--with-calibration", "--yes",
                                         kind="write")
        self.assertEqual([c["field"] for c in written["changes"]], ["trim_end_2"])
        status, compared = self.line.json("compare", "1", saved, kind="compare")
        self.assertEqual((status, compared["differences"]), (0, []))
        # Nothing left to write: nothing is sent.
        status, written = self.line.json("write", "1", saved, "--yes", kind="write")
        self.assertEqual((status, written["written"], written["changes"]), (0, False, []))

    def test_renumber_and_replacement(self):
        status, written = self.line.json("renumber", "2", "7", "--yes", kind="write")
        self.assertEqual((status, written["address"]), (0, 7))
        status, read = self.line.json("read", "7", kind="read")
        self.assertEqual(read["model"], "ВЭК-01МЕ")

        # A spare at 9 takes the settings and number 7 from 7's file once 7 is gone.
        saved = self.path("device7.json")
        self.line.json("save", "7", saved, kind="save")
        self.line.command("remove 7")
        self.line.command("add 9:105")
        status, written = self.line.json("write", "9", saved, "--take-number", "--yes",
                                         kind="write")
        self.assertEqual((status, written["address"]), (0, 7), self.line.last_err)
        status, compared = self.line.json("compare", "7", saved, kind="compare")
        fields = {d["field"] for d in compared["differences"]}
        self.assertTrue(fields <= {"scale_start_adc_1", "scale_end_adc_1", "trim_start_1",
                                   "trim_end_1", "scale_start_adc_2", "scale_end_adc_2",
                                   "trim_start_2", "trim_end_2"}, fields)


class Failures(CliTest):
    def test_exit_status_of_each_failure(self):
        good = self.path("good.json")
        self.line.run("save", "1", good)
        damaged = self.path("damaged.json")
        with open(good, encoding="utf-8") as f:
            text = f.read()
        with open(damaged, "w", encoding="utf-8") as f:
            f.write(text.replace('"setpoint_1_code": "13107"', '"setpoint_1_code": "13108"'))
        cases = [
            # (sim commands, arguments, status, words of the message)
            ([], ["read", "33"], 2, "33"),
            ([], ["set", "1", "colour1=red"], 2, "colour1"),
            ([], ["--attempts", "1", "read", "9"], 4, "не отвечает"),
            (["fault 1 crc"], ["--attempts", "1", "--body-attempts", "1", "read", "1"], 5,
             "контрольной суммы"),
            (["fault 1 clear", "fault 1 exception 132"], ["read", "1"], 6, "ошибка обмена 84"),
            (["fault 1 clear"], ["compare", "1", damaged], 7, "setpoint_1_code"),
            ([], ["write", "2", good, "--yes"], 7, "В файле ВЭК-02МЕ, прибор — ВЭК-01МЕ"),
            ([], ["renumber", "2", "1", "--yes"], 8, "Номер 1 уже занят"),
            ([], ["set", "2", "characteristic2=root", "--yes"], 8, "один канал"),
            ([], ["set", "1", "setpoint1=10", "--yes"], 8, "ошибка ввода"),
            (["mode 1 user"], ["set", "1", "range1=0-100", "--yes"], 8, "непривилегированном"),
            ([], ["set", "1", "setpoint1=50"], 8, "--yes"),  # no terminal, no --yes
            (["type 1 255"], ["set", "1", "setpoint1=50", "--yes"], 10, "не определен тип"),
            (["type 1 106"], ["read", "5"], 10, "не ВЭК-01МЕ и не ВЭК-02МЕ"),
            ([], ["--port", self.path("none"), "read", "1"], 3, "не найден"),
        ]
        for commands, args, expected, words in cases:
            with self.subTest(args=args):
                for c in commands:
                    self.line.command(c)
                status, out, err = self.line.run(*args)
                self.assertEqual(status, expected, err)
                self.assertIn(words, err)
                if status >= 3:
                    self.assertEqual(out, "")

    def test_a_refused_write_sends_no_block(self):
        before = self.line.block(1)
        for args in (["set", "1", "setpoint1=50"], ["set", "1", "setpoint1=5", "--yes"]):
            self.assertEqual(self.line.run(*args)[0], 8)
        self.assertEqual(self.line.block(1), before)


class Journal(CliTest):
    def test_every_change_is_journalled_and_tampering_is_told(self):
        saved = self.path("device1.json")
        self.line.run("save", "1", saved)
        steps = [
            # (arguments, exit status, action, verdict)
            (["set", "1", "setpoint1=55", "--yes"], 0, "запись", "confirmed"),
            (["set", "1", "setpoint1=56"], 8, "запись", "refused"),  # not confirmed
            (["renumber", "2", "7", "--yes"], 0, "смена номера", "confirmed"),
            (["renumber", "7", "1", "--yes"], 8, "смена номера", "refused"),  # 1 is taken
            (["write", "1", saved, "--yes"], 0, "запись из файла", "confirmed"),
        ]
        for args, status, _, _ in steps:
            self.assertEqual(self.line.run(*args)[0], status, args)

        status, journal = self.line.json("journal", kind="journal")
        self.assertEqual((status, journal["check"]["whole"]), (0, True))
        entries = journal["entries"]
        intents = [e for e in entries if e["event"] == "intent"]
        outcomes = {e["intent"]: e for e in entries if e["event"] == "outcome"}
        self.assertEqual([(e["action"], outcomes[e["entry"]]["verdict"]) for e in intents],
                         [(action, verdict) for _, _, action, verdict in steps])
        self.assertEqual(intents[0]["changes"][1],
                         {"field": "setpoint_1_percent", "label": "Уставка 1, %",
                          "from": "80", "to": "55"})
        self.assertEqual({e["front_end"] for e in entries}, {"cli"})
        status, device2 = self.line.json("journal", "--device", "2", kind="journal")
        self.assertEqual(len(device2["entries"]), 2)
        status, out, _ = self.line.run("journal", "--csv")
        self.assertEqual(len(list(csv.reader(io.StringIO(out)))), 1 + len(entries))
        status, out, _ = self.line.run("journal")
        self.assertIn("Номер устройства: 2 → 7", out)
        self.assertEqual(self.line.run("journal", "--check"),
                         (0, "Журнал цел, записей: 10\n", ""))

        # One byte of line 3 changed by hand: told, from that line on, and entries go on.
        path = os.path.join(self.line.data_dir, "journal.jsonl")
        with open(path, "rb") as f:
            lines = f.readlines()
        lines[2] = lines[2].replace(b'"to":"56"', b'"to":"57"')
        with open(path, "wb") as f:
            f.writelines(lines)
        status, out, _ = self.line.run("journal", "--check")
        self.assertEqual((status, out),
                         (11, "Журналу нельзя доверять начиная со строки 3: строка 3 изменена\n"))
        self.assertEqual(self.line.run("set", "1", "setpoint1=58", "--yes")[0], 0)
        status, journal = self.line.json("journal", kind="journal")
        self.assertEqual((status, journal["check"]["first_untrusted"], len(journal["entries"])),
                         (11, 3, 12))
        self.assertIn("строки 3", self.line.last_err)

        # A journal that cannot be written: the change goes on, and the operator is told.
        self.line.data_dir = self.path("not-a-folder")
        open(self.line.data_dir, "w").close()
        status, _, err = self.line.run("set", "1", "setpoint1=59", "--yes")
        self.assertEqual(status, 0)
        self.assertIn("Журнал работ не ведется: Не удалось открыть журнал", err)


class Interrupts(CliTest):
    def test_ctrl_c_stops_between_exchanges_never_in_a_write(self):
        # During the write's store wait: the write goes on to the device's confirmation.
        process = self.line.start("set", "1", "setpoint2=30", "--yes")
        time.sleep(1.0)
        process.send_signal(signal.SIGINT)
        _, err = process.communicate(timeout=30)
        self.assertEqual(process.returncode, 0, err)
        status, read = self.line.json("read", "1", kind="read")
        self.assertEqual(read["fields"]["setpoint_2_percent"], "30")

        # A scan stops at the next address and shows what it found.
        process = self.line.start("--json", "scan")
        time.sleep(4.0)
        started = time.monotonic()
        process.send_signal(signal.SIGINT)
        out, _ = process.communicate(timeout=30)
        self.assertEqual(process.returncode, 130)
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual([d["address"] for d in json.loads(out)["devices"]], [1, 2])

        # Watch ends at Ctrl+C as at its count.
        process = self.line.start("watch", "1")
        time.sleep(1.5)
        process.send_signal(signal.SIGINT)
        out, _ = process.communicate(timeout=30)
        self.assertEqual(process.returncode, 0)
        self.assertGreaterEqual(len(out.splitlines()), 2)


if __name__ == "__main__":
    unittest.main()
