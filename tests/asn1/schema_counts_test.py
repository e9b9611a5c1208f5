#!/usr/bin/env python3
"""The compiled protocol modules against the headline counts of the protocol
tables: kind, extensibility, root components or alternatives, optional
components, extension alternatives, enumeration range and named values, and
the number of types reachable per module. These counts were transcribed
separately from the schema sources, so a field lost or added in a source
shows up here.

usage: schema_counts_test.py <summary.json> [<descriptor dump program>]

With the dump program (tests/asn1/modules/dump_descriptors.cpp), the
generated C++ descriptors are held against the same counts.
"""

import json
import subprocess
import sys
import unittest

SUMMARY = None
DUMP_PROGRAM = None

# Module.Type: (kind, extensible, a, b) where for
#   SEQUENCE    a = root components, b = optional root components
#   CHOICE      a = root alternatives, b = extension alternatives
#   ENUMERATED  a = wire maximum, b = named values
EXPECTED = \
{'ACP.BuildType': ('ENUMERATED', True, 2, 3),
 'ACP.IsdnLinkInfo': ('SEQUENCE', False, 29, 0),
 'ACP.IsdnSide': ('ENUMERATED', False, 1, 2),
 'ACP.LAPDState': ('ENUMERATED', False, 7, 8),
 'ACP.SS7LinkInfo': ('SEQUENCE', False, 11, 0),
 'ACP.SS7State': ('ENUMERATED', False, 5, 6),
 'ACP.TrunkState': ('ENUMERATED', False, 6, 7),
 'ACP.TrunkStatus': ('SEQUENCE', True, 10, 0),
 'ACP.TrunkType': ('ENUMERATED', True, 1, 2),
 'ACP.VersionInfo': ('SEQUENCE', True, 4, 0),
 'BASE.INTEGER64Bits': ('SEQUENCE', False, 2, 0),
 'HSP.ControllerStatus': ('ENUMERATED', False, 5, 6),
 'LGCP.AtsQsigBParams': ('SEQUENCE', True, 2, 0),
 'LGCP.AtsQsigParams': ('SEQUENCE', True, 2, 0),
 'LGCP.BExtEn': ('ENUMERATED', False, 1, 2),
 'LGCP.BSSEvent': ('SEQUENCE', True, 1, 0),
 'LGCP.BoardChannelStatusParams': ('SEQUENCE', True, 3, 0),
 'LGCP.BoardInfo': ('CHOICE', True, 2, 0),
 'LGCP.BoardStatusParams': ('SEQUENCE', True, 4, 0),
 'LGCP.BpcTestMode': ('CHOICE', False, 3, 0),
 'LGCP.BpcTestParams': ('SEQUENCE', False, 5, 0),
 'LGCP.CasChannel': ('SEQUENCE', False, 2, 0),
 'LGCP.CasCommand': ('SEQUENCE', False, 2, 0),
 'LGCP.CasCommandSignal': ('CHOICE', False, 4, 0),
 'LGCP.CasParams': ('SEQUENCE', True, 1, 0),
 'LGCP.CasSignalling': ('SEQUENCE', False, 3, 0),
 'LGCP.ClkSel0': ('ENUMERATED', False, 1, 2),
 'LGCP.ClockCfg': ('SEQUENCE', False, 3, 0),
 'LGCP.CodecMode': ('ENUMERATED', False, 2, 3),
 'LGCP.Command': ('CHOICE', True, 15, 0),
 'LGCP.ControllerInfo': ('SEQUENCE', True, 2, 0),
 'LGCP.CreateParams': ('CHOICE', True, 20, 0),
 'LGCP.CreateRtpParams': ('SEQUENCE', True, 3, 0),
 'LGCP.CreateSpiTdmParams': ('SEQUENCE', True, 1, 0),
 'LGCP.CreateUsbTdmParams': ('SEQUENCE', True, 1, 0),
 'LGCP.DTMFParams': ('SEQUENCE', False, 2, 0),
 'LGCP.DTMFParams_level': ('SEQUENCE', False, 1, 0),
 'LGCP.DTMFParams_threshold': ('SEQUENCE', False, 3, 0),
 'LGCP.DeactivateCause': ('ENUMERATED', True, 1, 2),
 'LGCP.Delays': ('SEQUENCE', True, 3, 3),
 'LGCP.DisplayParams': ('CHOICE', True, 7, 0),
 'LGCP.DualTone': ('SEQUENCE', False, 2, 0),
 'LGCP.EchoCancelMode': ('SEQUENCE', False, 2, 0),
 'LGCP.EchoParams': ('SEQUENCE', False, 2, 0),
 'LGCP.EmPhoneChannelStatusParams': ('SEQUENCE', True, 2, 0),
 'LGCP.EmPhoneConnectionStatus': ('ENUMERATED', False, 2, 3),
 'LGCP.EmPhoneInfo': ('CHOICE', True, 2, 0),
 'LGCP.EmPhoneMode': ('ENUMERATED', False, 2, 3),
 'LGCP.EmPhoneStatus': ('ENUMERATED', False, 2, 3),
 'LGCP.EmPhoneStatusParams': ('SEQUENCE', True, 9, 0),
 'LGCP.ErrorCause': ('ENUMERATED', True, 12, 13),
 'LGCP.ExtBoardChannelStatus': ('SEQUENCE', True, 2, 0),
 'LGCP.ExtBoardStatus': ('ENUMERATED', False, 3, 4),
 'LGCP.ExtBoardType': ('ENUMERATED', False, 4, 5),
 'LGCP.ExtParams': ('SEQUENCE', False, 2, 0),
 'LGCP.FramerInfo': ('SEQUENCE', True, 2, 0),
 'LGCP.FramerInfoData': ('CHOICE', True, 2, 0),
 'LGCP.Gain': ('SEQUENCE', True, 1, 0),
 'LGCP.HdlcLinkInfo': ('SEQUENCE', False, 5, 0),
 'LGCP.HdlcPackage': ('SEQUENCE', False, 1, 0),
 'LGCP.HdlcParams': ('SEQUENCE', True, 3, 0),
 'LGCP.IVAParams': ('SEQUENCE', False, 1, 0),
 'LGCP.IoctlParams': ('CHOICE', True, 38, 0),
 'LGCP.IoctlResponse': ('CHOICE', False, 9, 0),
 'LGCP.IsdnLinkStatus': ('ENUMERATED', False, 1, 2),
 'LGCP.IsdnParams': ('SEQUENCE', True, 4, 0),
 'LGCP.IsdnSide': ('CHOICE', False, 2, 0),
 'LGCP.IsdnType': ('ENUMERATED', False, 1, 2),
 'LGCP.IvaCode': ('CHOICE', False, 2, 0),
 'LGCP.LoadAverage': ('SEQUENCE', False, 7, 0),
 'LGCP.MapParams': ('SEQUENCE', False, 2, 2),
 'LGCP.MccMode': ('ENUMERATED', False, 1, 2),
 'LGCP.MccParams': ('SEQUENCE', False, 2, 0),
 'LGCP.MccType': ('ENUMERATED', False, 2, 3),
 'LGCP.Message': ('SEQUENCE', False, 3, 2),
 'LGCP.MixerChannel': ('CHOICE', False, 2, 0),
 'LGCP.MixerInParams': ('SEQUENCE', False, 5, 3),
 'LGCP.MixerInput': ('SEQUENCE', False, 2, 0),
 'LGCP.MixerOutParams': ('SEQUENCE', False, 3, 0),
 'LGCP.MixerResources_subtype': ('SEQUENCE', True, 7, 0),
 'LGCP.MuteParams': ('SEQUENCE', False, 2, 2),
 'LGCP.PDParams': ('SEQUENCE', True, 1, 0),
 'LGCP.PDU': ('CHOICE', False, 3, 0),
 'LGCP.POWERStatus': ('ENUMERATED', False, 3, 4),
 'LGCP.PlayerParams': ('CHOICE', True, 2, 0),
 'LGCP.PlayerParams_file': ('SEQUENCE', False, 2, 0),
 'LGCP.PlayerParams_network': ('SEQUENCE', False, 2, 0),
 'LGCP.PstnParams': ('CHOICE', False, 3, 0),
 'LGCP.R1Code': ('ENUMERATED', False, 2, 3),
 'LGCP.Resources': ('SEQUENCE', True, 19, 1),
 'LGCP.Response': ('CHOICE', False, 2, 0),
 'LGCP.RtpEvent': ('CHOICE', False, 1, 0),
 'LGCP.RtpOnMixerParams': ('SEQUENCE', False, 4, 0),
 'LGCP.RtpPDEvent': ('SEQUENCE', False, 2, 0),
 'LGCP.SDEvent': ('SEQUENCE', False, 1, 1),
 'LGCP.SS7L2Log': ('SEQUENCE', True, 8, 0),
 'LGCP.SS7Params': ('SEQUENCE', False, 5, 0),
 'LGCP.SelcalEvent': ('SEQUENCE', True, 1, 0),
 'LGCP.SharedChannel': ('SEQUENCE', False, 2, 0),
 'LGCP.Signal': ('CHOICE', True, 23, 0),
 'LGCP.StopRecordingCause': ('ENUMERATED', False, 3, 4),
 'LGCP.Stream': ('CHOICE', False, 2, 0),
 'LGCP.T38Soft': ('SEQUENCE', True, 6, 0),
 'LGCP.TermCounter': ('SEQUENCE', True, 3, 1),
 'LGCP.TermCounterOwner': ('ENUMERATED', False, 4, 5),
 'LGCP.ToneFilter': ('SEQUENCE', True, 4, 0),
 'LGCP.ToneGenerator': ('SEQUENCE', True, 2, 0),
 'LGCP.TonePresence': ('SEQUENCE', True, 2, 0),
 'LGCP.TonecCode': ('CHOICE', True, 6, 1),
 'LGCP.TonecEvent': ('SEQUENCE', False, 2, 0),
 'LGCP.TonecMask': ('CHOICE', False, 2, 0),
 'LGCP.TranslateDtmfParams': ('SEQUENCE', False, 5, 4),
 'LGCP.TrunkCfg': ('SEQUENCE', False, 2, 0),
 'LGCP.TrunkMode': ('ENUMERATED', False, 1, 2),
 'LGCP.TrunkParams': ('SEQUENCE', False, 2, 0),
 'LGCP.VADEvent': ('SEQUENCE', False, 2, 2),
 'LGCP.VADParams': ('CHOICE', True, 2, 0),
 'LGCP.VoiceParams': ('CHOICE', False, 2, 0),
 'MON.Command': ('CHOICE', True, 4, 0),
 'MON.CommonResponse': ('CHOICE', False, 2, 0),
 'MON.ErrorCause': ('ENUMERATED', True, 1, 2),
 'MON.IniName': ('SEQUENCE', True, 3, 0),
 'MON.Message': ('SEQUENCE', False, 1, 0),
 'MON.PDU': ('CHOICE', False, 3, 0),
 'MON.Response': ('CHOICE', True, 4, 0),
 'MON.Signal': ('CHOICE', True, 1, 0),
 'MON.SnmpSetCommand': ('SEQUENCE', True, 3, 0),
 'MON.SnmpSetCommandId': ('CHOICE', True, 2, 0),
 'MON.SnmpSetCommands': ('SEQUENCE', True, 1, 0),
 'MON.SnmpSetResponse': ('SEQUENCE', True, 2, 0),
 'MON.SnmpSetResponses': ('SEQUENCE', True, 1, 0),
 'MON.SnmpSetSignal': ('SEQUENCE', True, 3, 0),
 'MON.SnmpTrap': ('SEQUENCE', True, 1, 0),
 'MON.SnmpTrapId': ('CHOICE', True, 2, 0),
 'MON.SnmpTraps': ('SEQUENCE', True, 1, 0),
 'MON.SnmpTrapsink': ('SEQUENCE', True, 2, 1),
 'MON.SnmpTrapsinks': ('SEQUENCE', True, 1, 0),
 'TERM.DDModemParam': ('SEQUENCE', False, 2, 0),
 'TERM.DigitalDataModeEnum': ('ENUMERATED', False, 3, 4),
 'TERM.E2EResponse': ('CHOICE', True, 2, 0),
 'TERM.E2EYACPResponse': ('SEQUENCE', True, 3, 0),
 'TERM.ED137CauseCode': ('ENUMERATED', True, 2099, 18),
 'TERM.ED137PhoneResponse': ('SEQUENCE', True, 1, 1),
 'TERM.ED137PhoneService': ('ENUMERATED', True, 2, 3),
 'TERM.ED137RadioBSSMethod': ('ENUMERATED', True, 3, 4),
 'TERM.ED137RadioExtensionSQI': ('SEQUENCE', True, 2, 0),
 'TERM.ED137RadioHeader': ('SEQUENCE', True, 6, 0),
 'TERM.ED137RadioLinkedSessionExecution': ('ENUMERATED', True, 1, 2),
 'TERM.ED137RadioLinkedSessionProtection': ('ENUMERATED', True, 1, 2),
 'TERM.ED137RadioModifier': ('SEQUENCE', True, 2, 0),
 'TERM.ED137RadioModifierParams': ('CHOICE', True, 2, 0),
 'TERM.ED137RadioPTT': ('ENUMERATED', True, 4, 5),
 'TERM.ED137RadioResponse': ('SEQUENCE', True, 17, 14),
 'TERM.ED137RadioRxCommand': ('SEQUENCE', True, 2, 1),
 'TERM.ED137RadioSQU': ('ENUMERATED', True, 1, 2),
 'TERM.ED137RadioStatus': ('SEQUENCE', True, 3, 2),
 'TERM.ED137RadioTxCommand': ('SEQUENCE', True, 1, 0),
 'TERM.ED137RadioTxRxMode': ('ENUMERATED', True, 2, 3),
 'TERM.ED137RadioType': ('ENUMERATED', True, 4, 5),
 'TERM.ED137Response': ('CHOICE', True, 3, 0),
 'TERM.HostAddress': ('SEQUENCE', False, 2, 0),
 'TERM.IpQoSDSCP': ('ENUMERATED', False, 56, 24),
 'TERM.MdmAccounting': ('SEQUENCE', True, 5, 0),
 'TERM.MdmCarrier': ('ENUMERATED', False, 10, 11),
 'TERM.MdmRequestUserAuth': ('SEQUENCE', False, 2, 0),
 'TERM.ModemInformation': ('SEQUENCE', True, 3, 0),
 'TERM.ModemParams': ('SEQUENCE', True, 8, 6),
 'TERM.ModemProceeding': ('CHOICE', True, 2, 0),
 'TERM.ModemUserParameters': ('SEQUENCE', True, 5, 0),
 'TERM.Payload': ('ENUMERATED', True, 19, 20),
 'TERM.RadioCommandGWSetFlags': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandGWSetFreq': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandGWSetRTE': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandGWSetRemote': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandGWSetSelCall': ('SEQUENCE', False, 4, 0),
 'TERM.RadioCommandGWSetSquelshe': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandGWSetStandby': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandWMChan': ('SEQUENCE', True, 3, 0),
 'TERM.RadioCommandWMFlags': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandWMQuality': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandWMRemote': ('SEQUENCE', False, 1, 0),
 'TERM.RadioCommandWMSelCall': ('SEQUENCE', False, 4, 0),
 'TERM.RadioCommandWMStandby': ('SEQUENCE', True, 3, 0),
 'TERM.RadioCommandWMTrans': ('SEQUENCE', False, 3, 0),
 'TERM.RadioFlags': ('SEQUENCE', True, 12, 0),
 'TERM.RadioFrequency': ('SEQUENCE', False, 2, 0),
 'TERM.RadioModifier': ('CHOICE', True, 2, 0),
 'TERM.RadioModifierAddr': ('SEQUENCE', False, 2, 0),
 'TERM.RadioRTE': ('ENUMERATED', False, 7, 8),
 'TERM.RadioRemote': ('SEQUENCE', False, 2, 0),
 'TERM.RadioSquelshe': ('ENUMERATED', False, 103, 104),
 'TERM.RadioStandby': ('ENUMERATED', False, 1, 3),
 'TERM.RadioStatus': ('CHOICE', True, 2, 0),
 'TERM.RtpE2M': ('SEQUENCE', True, 3, 1),
 'TERM.RtpEcho': ('SEQUENCE', True, 2, 0),
 'TERM.RtpExtDescription': ('SEQUENCE', True, 2, 0),
 'TERM.RtpExtMode': ('CHOICE', True, 2, 0),
 'TERM.RtpJitter': ('SEQUENCE', False, 2, 0),
 'TERM.RtpParams': ('SEQUENCE', True, 15, 13),
 'TERM.RtpRadioRequest': ('SEQUENCE', True, 8, 7),
 'TERM.SelcalCommand': ('SEQUENCE', False, 2, 1),
 'TERM.SignallingActivateParams': ('CHOICE', True, 3, 0),
 'TERM.TermActivateParams': ('CHOICE', True, 3, 0),
 'TERM.TermSuccess': ('CHOICE', True, 3, 0),
 'TERM.VADParamsV2': ('SEQUENCE', True, 3, 0),
 'TERM.VezeRadioModifier': ('SEQUENCE', False, 2, 0),
 'TERM.VezeRadioModifierParams': ('CHOICE', True, 20, 0),
 'TERM.VezeRadioStatus': ('SEQUENCE', True, 8, 0)}

# Types reachable from LGCP::Message and MON::Message, per module; TERM's
# count includes the size-constrained string of RtpParams.dname.
REACHABLE = {"LGCP": 106, "TERM": 72, "DIZORU": 152, "ACP": 10, "HSP": 1,
             "BASE": 1, "MON": 19}


def dizoru_is_stub():
    return "ProtoVezeMsgID" not in SUMMARY["modules"]["DIZORU"]["types"]


def get(name):
    module, type_name = name.split(".", 1)
    return SUMMARY["modules"][module]["types"][type_name]


class Counts(unittest.TestCase):
    def test_every_table_type_matches(self):
        for name, (kind, ext, a, b) in EXPECTED.items():
            with self.subTest(type=name):
                t = get(name)
                self.assertEqual(t["kind"], kind)
                self.assertEqual(t["extensible"], ext)
                if kind == "SEQUENCE":
                    self.assertEqual((t["root_fields"], t["optional"]), (a, b))
                    self.assertEqual(t["extension_fields"], 0)
                elif kind == "CHOICE":
                    self.assertEqual(t["root_alternatives"], a)
                    self.assertEqual(t["total_alternatives"] - t["root_alternatives"], b)
                else:
                    self.assertEqual((t["max"], len(t["enumerators"])), (a, b))

    def test_no_type_beyond_the_tables(self):
        for module, m in SUMMARY["modules"].items():
            if module == "DIZORU":
                continue
            for type_name in m["types"]:
                self.assertIn(f"{module}.{type_name}", EXPECTED)

    def test_reachable_per_module(self):
        for module, count in REACHABLE.items():
            if module == "DIZORU" and dizoru_is_stub():
                print("DIZORU is still the stub: its counts are not checked", file=sys.stderr)
                continue
            with self.subTest(module=module):
                self.assertEqual(SUMMARY["modules"][module]["counts"]["reachable"], count)
        if not dizoru_is_stub():
            self.assertEqual(len(SUMMARY["reachable"]) + 1, 361)  # + RtpParams.dname


class Descriptors(unittest.TestCase):
    def test_message_envelope(self):
        msg = get("LGCP.Message")
        self.assertEqual(msg["field_ids"], [0, 1, -1])
        self.assertEqual(msg["fields"][1]["type"]["range"], {"lb": 0, "ub": 1023, "extensible": False})
        self.assertNotIn("range", msg["fields"][0]["type"])
        self.assertEqual(get("MON.Message")["field_ids"], [-1])

    def test_command_signal_and_error_cause(self):
        cmd = get("LGCP.Command")
        self.assertEqual((cmd["root_alternatives"], cmd["extensible"]), (15, True))
        self.assertEqual([a["name"] for a in cmd["alternatives"]][4:6], ["create", "destroy"])
        self.assertEqual(get("LGCP.Signal")["root_alternatives"], 23)
        err = get("LGCP.ErrorCause")
        self.assertEqual((err["max"], err["extensible"]), (12, True))

    def test_tonec_extension_alternative(self):
        alts = get("LGCP.TonecCode")["alternatives"]
        self.assertEqual((alts[6]["name"], alts[6]["index"], alts[6]["extension"]),
                         ("dtmfDone", 6, True))
        self.assertFalse(alts[5]["extension"])

    def test_sized_string(self):
        inline = SUMMARY["modules"]["TERM"]["inline_types"]
        self.assertEqual(len(inline), 1)
        self.assertEqual(inline[0]["cpp"], "RtpParams::dname::value_type")
        self.assertEqual((inline[0]["builtin"], inline[0]["size"]),
                         ("IA5String", {"lb": 1, "ub": 64, "extensible": False}))

    def test_names_arrays_carry_numbers_only_where_they_jump(self):
        self.assertEqual(get("TERM.RadioStandby")["names"], ["not-use=-1", "active", "standby"])
        cause = get("TERM.ED137CauseCode")["names"]
        self.assertEqual(cause[:3], ["phone-default=1000", "radio-session-pre-emption=2000",
                                     "radio-missing-r2s-keepalive"])
        self.assertEqual(cause[-1], "radio-no-permissions=2099")
        dscp = get("TERM.IpQoSDSCP")
        self.assertEqual((dscp["names"][2], dscp["names"][-1], dscp["max"]), ("cs1=8", "count=23", 56))
        squelch = get("TERM.RadioSquelshe")["names"]
        self.assertEqual((len(squelch), squelch[3], squelch[-1]), (104, "percent-0", "percent-100"))
        self.assertTrue(get("LGCP.ErrorCause")["dense"])
        self.assertFalse(get("TERM.RadioStandby")["dense"])

    def test_proto_veze_msg_id(self):
        if dizoru_is_stub():
            self.skipTest("DIZORU is still the stub")
        t = get("DIZORU.ProtoVezeMsgID")
        self.assertEqual((t["max"], t["extensible"]), (13056, True))
        self.assertEqual(t["names"][0], "gw-get-id=4097")

    def test_cpp_names(self):
        self.assertEqual(get("LGCP.CreateParams")["alternatives"][16]["cpp"], "spi_tdm")
        self.assertEqual(get("LGCP.IVAParams")["fields"][0]["erlang"], "det-lvl-dB")
        self.assertEqual(get("LGCP.PlayerParams_network")["erlang"], "PlayerParams-network")


class CppDescriptors(unittest.TestCase):
    """The records the C++ modules were compiled with, as the program that
    links them prints them."""

    @classmethod
    def setUpClass(cls):
        if DUMP_PROGRAM is None:
            raise unittest.SkipTest("no descriptor dump program given")
        out = subprocess.run([DUMP_PROGRAM], check=True, capture_output=True, text=True).stdout
        cls.dump = {}
        for line in out.splitlines():
            name, kind, ext, a, b = line.split()
            cls.dump[name] = (kind, ext == "1", int(a), int(b))

    def test_every_table_type_matches(self):
        for name, expected in EXPECTED.items():
            with self.subTest(type=name):
                self.assertEqual(self.dump.get(name), expected)

    def test_every_type_is_compiled(self):
        for module, m in SUMMARY["modules"].items():
            for type_name, t in m["types"].items():
                name = f"{module}.{type_name}"
                with self.subTest(type=name):
                    if t["kind"] == "SEQUENCE":
                        expected = (t["kind"], t["extensible"], t["root_fields"], t["optional"])
                    elif t["kind"] == "CHOICE":
                        expected = (t["kind"], t["extensible"], t["root_alternatives"],
                                    t["total_alternatives"] - t["root_alternatives"])
                    else:
                        expected = (t["kind"], t["extensible"], t["max"], len(t["enumerators"]))
                    self.assertEqual(self.dump.get(name), expected)
        self.assertEqual(len(self.dump), sum(len(m["types"]) for m in SUMMARY["modules"].values()))


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    if len(sys.argv) == 3:
        DUMP_PROGRAM = sys.argv.pop(2)
    with open(sys.argv.pop(1), encoding="utf-8") as f:
        SUMMARY = json.load(f)
    unittest.main(verbosity=1)
