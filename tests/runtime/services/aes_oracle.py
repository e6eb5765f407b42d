#!/usr/bin/python3
# aes_oracle.py FILE
# An independent AES-256-GCM (pycryptodome) for the AES intrinsics' tests. Each line of FILE is
#   E <hex of a text>   -> the AES text form of the text: base64(tag) "?" base64(ciphertext)
#   D <AES text form>   -> the hex of its plain text, or FAIL when it does not authenticate
# with the run-time's current key and 16-byte IV; one answer per line on standard output.
import base64
import sys

from Cryptodome.Cipher import AES

KEY = bytes.fromhex("5E8A13C7F04B92D6A1E7385FC24D9B60E3A71F58D29C04B6F7E18A3D52C96B0F")
IV = bytes.fromhex("7C41E9B05D2A86F3C1E84B6D09A5F27E")


def cipher():
    return AES.new(KEY, AES.MODE_GCM, nonce=IV, mac_len=16)


for line in open(sys.argv[1], encoding="ascii").read().splitlines():
    op, _, arg = line.partition(" ")
    if op == "E":
        ciphertext, tag = cipher().encrypt_and_digest(bytes.fromhex(arg))
        print(base64.b64encode(tag).decode() + "?" + base64.b64encode(ciphertext).decode())
    else:
        tag, _, body = arg.partition("?")
        try:
            print(cipher().decrypt_and_verify(base64.b64decode(body), base64.b64decode(tag)).hex())
        except ValueError:
            print("FAIL")
