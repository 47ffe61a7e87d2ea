#!/usr/bin/env python3
"""Prints the Authorization header value that answers a Digest challenge.

    digest_header.py CHALLENGE USER PASSWORD METHOD URI

CHALLENGE is the WWW-Authenticate header line of a 401 answer.  Without qop
the answer is the RFC 2069 form; with qop="auth" it is the RFC 2617 form with
a fixed nc and cnonce.  The benchmark sends the same header on every request.
"""
import hashlib
import re
import sys


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def main():
    chal, user, pw, method, uri = sys.argv[1:6]
    realm = re.search(r'realm="([^"]*)"', chal).group(1)
    nonce = re.search(r'nonce="([^"]*)"', chal).group(1)
    ha1 = md5(f"{user}:{realm}:{pw}")
    ha2 = md5(f"{method}:{uri}")
    if "qop=" in chal:
        nc, cnonce = "00000001", "0a4f113b"
        resp = md5(f"{ha1}:{nonce}:{nc}:{cnonce}:auth:{ha2}")
        print(f'Digest username="{user}", realm="{realm}", nonce="{nonce}", '
              f'uri="{uri}", algorithm=MD5, qop=auth, nc={nc}, '
              f'cnonce="{cnonce}", response="{resp}"')
    else:
        resp = md5(f"{ha1}:{nonce}:{ha2}")
        print(f'Digest username="{user}", realm="{realm}", nonce="{nonce}", '
              f'uri="{uri}", response="{resp}"')


if __name__ == "__main__":
    main()
