#!/usr/bin/env escript
%% Reads "dec Type HEX" and "enc Type TERM" lines; prints, per line, the
%% decoded term and Erlang's own re-encoding, or the encoding of the term.
%%! -noinput
-mode(compile).

main([Dir, CaseFile]) ->
    code:add_patha(Dir),
    {ok, Data} = file:read_file(CaseFile),
    Lines = [L || L <- binary:split(Data, <<"\n">>, [global]), L =/= <<>>],
    lists:foreach(fun run/1, Lines).

run(Line) ->
    [Op, Rest] = binary:split(Line, <<" ">>),
    [Type, Arg] = binary:split(Rest, <<" ">>),
    T = binary_to_atom(Type),
    case Op of
        <<"dec">> ->
            case catch 'T':decode(T, binary:decode_hex(Arg)) of
                {ok, Value} ->
                    {ok, Again} = 'T':encode(T, Value),
                    io:format("~w|~s~n", [Value, binary:encode_hex(iolist_to_binary(Again))]);
                Other -> io:format("error ~w~n", [Other])
            end;
        <<"enc">> ->
            {ok, Tokens, _} = erl_scan:string(binary_to_list(Arg) ++ "."),
            {ok, Term} = erl_parse:parse_term(Tokens),
            {ok, Bin} = 'T':encode(T, Term),
            io:format("~s~n", [binary:encode_hex(iolist_to_binary(Bin))])
    end.
