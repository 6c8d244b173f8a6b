// mapping/transfer.cpp: placeholder until it lands.
