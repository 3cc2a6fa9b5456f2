// The engine arrives with the copy engine.
